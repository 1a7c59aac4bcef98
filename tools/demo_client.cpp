// A stand-in game client: says that it was started, by which name and with what, then ends.
#include <cstdio>

#ifndef DEMO_CLIENT_VERSION
#define DEMO_CLIENT_VERSION "korvix_v0.00"
#endif

int main(int argc, char **argv) {
    printf("Duskmere client %s started as '%s' with:", DEMO_CLIENT_VERSION,
           argc > 0 ? argv[0] : "");
    for (int i = 1; i < argc; ++i)
        printf(" %s", argv[i]);
    printf("\n");
    return 0;
}
