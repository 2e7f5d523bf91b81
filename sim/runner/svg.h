// A small SVG writer for the picture of a run: elements with their
// attributes in the order given, attribute values and text escaped, lengths
// with one decimal.
#pragma once

#include <string>
#include <string_view>

namespace runner::svg {

// `s` for an attribute value or element text: & < > " as entities, control
// characters other than line feed and tab as blanks.
std::string escape(std::string_view s);
// A coordinate or length, with one decimal: "12.5".
std::string num(double v);

// One element: <name a="v" ...>text and children</name>, or <name .../>
// when it has neither.
class Element {
public:
    explicit Element(std::string name) : name_(std::move(name)) {}

    Element& attr(std::string_view name, std::string_view value);
    Element& attr(std::string_view name, double value) { return attr(name, std::string_view(num(value))); }
    // An integer would read as a length with a decimal: write it as text.
    Element& attr(std::string_view name, int value) = delete;
    // Escaped text inside the element, after what is there.
    Element& text(std::string_view content);
    // A child element inside, after what is there (no line break).
    Element& add(const Element& child);

    // The whole element.
    std::string str() const;
    // The start tag only, for an element whose content is written line by line.
    std::string start() const;

private:
    std::string name_;
    std::string attrs_;
    std::string content_;
    bool has_content_ = false;
};

// A document being written: one element a line.
class Writer {
public:
    void line(const Element& e) { out_ += e.str() + "\n"; }
    // The start tag of an element whose content follows on the next lines,
    // and its end tag.
    void open(const Element& e) { out_ += e.start() + "\n"; }
    void close(std::string_view name);
    // Text as it is, e.g. the XML declaration or another writer's lines.
    void raw(std::string_view text) { out_ += text; }
    const std::string& str() const { return out_; }

private:
    std::string out_;
};

}  // namespace runner::svg
