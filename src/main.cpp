#include <cstdio>

#include "exchange/exchange.h"

int main(int argc, char* argv[]) {
    return run_exchange(argc, argv, stdout, stderr);
}
