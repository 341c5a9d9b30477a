// Exercises the programs' operator new: "small" allocates and frees ordinary objects and exits
// 0; "huge" asks for 128 TiB through new[] (run it with allocator_may_return_null=1 under the
// sanitizers) and must never come back.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2)
        return 64;
    if (std::strcmp(argv[1], "small") == 0) {
        std::vector<std::string> v;
        for (int i = 0; i < 1000; ++i)
            v.push_back(std::string(100, static_cast<char>('a' + i % 26)));
        auto p = std::make_unique<int[]>(1000);
        p[999] = 1;
        return v[999][0] == 'l' && p[999] == 1 ? 0 : 1;
    }
    if (std::strcmp(argv[1], "huge") == 0) {
        volatile std::size_t size = std::size_t(1) << 47;
        char* p = new char[size];
        std::printf("allocated %p\n", static_cast<void*>(p)); // not reached
        return 0;
    }
    return 64;
}
