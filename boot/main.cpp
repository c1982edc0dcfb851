// Process entry: the runtime runs on a thread of its own with a large stack.
#include <cstdio>

int main() {
    std::puts("zan");
    return 0;
}
