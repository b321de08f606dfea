#include <cstdio>

int main() { std::puts("fotello-agent"); return 0; }
