# Prints the size of FILE (cmake -DFILE=... -P PrintSize.cmake).
file(SIZE "${FILE}" bytes)
math(EXPR kib "${bytes} / 1024")
get_filename_component(name "${FILE}" NAME)
message("${name}: ${bytes} bytes (${kib} KiB)")
