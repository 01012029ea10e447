# Writes the XML file IN to OUT without comments and without the white space between elements
# (cmake -DIN=... -DOUT=... -P MinifyXml.cmake). The layouts have no text content, only elements and attributes,
# so what the parser builds from the result is the same.
file(READ "${IN}" text)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" text "${text}")
string(REGEX REPLACE ">[ \t\r\n]+<" "><" text "${text}")
string(REGEX REPLACE "[ \t\r\n]+/>" "/>" text "${text}")
string(STRIP "${text}" text)
file(WRITE "${OUT}" "${text}")
