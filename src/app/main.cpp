#include <cstdio>

int main() {
    std::fputs("Meterly: this build has the proxy's HTTP core and usage model; "
               "the proxy role comes next.\n",
               stderr);
    return 2;
}
