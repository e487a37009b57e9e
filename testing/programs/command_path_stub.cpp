// TEMPORARY: the host runtime's commandPath, until the host stand-in defines it.
extern "C" {
char commandPath[132] = "";
}
