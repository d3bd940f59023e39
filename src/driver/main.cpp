#include "driver/driver_detail.h"

int main(int argc, char** argv) { return sarvik_main(argc, argv); }
