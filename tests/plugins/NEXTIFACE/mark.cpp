// The interface mark, defined outright: it takes the place of the weak one
// that the SDK headers give every other source file. NEXTIFACE_MARK is the
// engine's interface plus one (tests/plugins/CMakeLists.txt).
extern "C" __attribute__((visibility("default"))) const int vemora_plugin_interface = NEXTIFACE_MARK;
