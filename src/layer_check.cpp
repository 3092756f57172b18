// The program each layer is linked into whole, with only the layers below
// it: every symbol the layer uses must come from those layers, so a call
// that runs upward fails the build (src/CMakeLists.txt).
int main() { return 0; }
