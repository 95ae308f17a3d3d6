// mervalt_cli.cpp: placeholder.
int main() { return 0; }
