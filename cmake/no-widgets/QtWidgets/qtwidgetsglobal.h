// Stands before Qt's own on the include path of a library that links Qt GUI only: every Qt
// Widgets header includes this one first, so including any of them stops the build here.
#error "this library links Qt GUI only: no Qt Widgets header may be included"
