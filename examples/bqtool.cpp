// bqtool: the example program (being written).
int main() { return 0; }
