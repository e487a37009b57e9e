// Placeholder until the host daemon stand-in is written.
int main() { return 0; }
