#include "kelm3.h"
int main() { return 0; }
