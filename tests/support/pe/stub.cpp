// A do-nothing Windows program: the executables of the generated Wine prefix.
int main() { return 0; }
