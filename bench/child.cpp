// The application of the benchmark's payloads: the launcher starts it, and it ends at once.
int main() { return 0; }
