#include "svg.h"

#include <cstdio>

namespace runner::svg {

std::string escape(std::string_view s) {
    std::string o;
    for (char c : s) {
        switch (c) {
        case '&': o += "&amp;"; break;
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '"': o += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                o += ' ';
            else
                o += c;
        }
    }
    return o;
}

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

Element& Element::attr(std::string_view name, std::string_view value) {
    attrs_ += " ";
    attrs_ += name;
    attrs_ += "=\"" + escape(value) + "\"";
    return *this;
}

Element& Element::text(std::string_view content) {
    content_ += escape(content);
    has_content_ = true;
    return *this;
}

Element& Element::add(const Element& child) {
    content_ += child.str();
    has_content_ = true;
    return *this;
}

std::string Element::start() const { return "<" + name_ + attrs_ + ">"; }

std::string Element::str() const {
    if (!has_content_) return "<" + name_ + attrs_ + "/>";
    return start() + content_ + "</" + name_ + ">";
}

void Writer::close(std::string_view name) {
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

}  // namespace runner::svg
