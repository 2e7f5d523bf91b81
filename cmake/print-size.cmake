# Prints what a program users get weighs, after each link of it (run by
# ryk_windows_program with -DFILE=the program -P): "RykXyLdr.exe: 47,616 bytes".
file(SIZE "${FILE}" bytes)
set(text "")
string(LENGTH "${bytes}" n)
while(n GREATER 3)
  math(EXPR cut "${n} - 3")
  string(SUBSTRING "${bytes}" ${cut} 3 group)
  string(SUBSTRING "${bytes}" 0 ${cut} bytes)
  set(text ",${group}${text}")
  string(LENGTH "${bytes}" n)
endwhile()
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${bytes}${text} bytes")
