// z80run: runs a Z80 program in the z80ex emulator and writes out part of
// its memory, so that the tests can see what a program built from the
// encoders' outputs put there.
//
//   z80run PROGRAM ADDRESS LENGTH MEMORY
//
// PROGRAM is a flat binary loaded at 0, or Intel HEX (a name ending in .ihx,
// as SDCC's linker writes it). The processor starts at 0 and runs until it
// halts; then the LENGTH bytes of memory from ADDRESS go to the file MEMORY.
// A program that does not halt within 50 million instructions fails.
#include <z80ex/z80ex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> memory(65536, 0);

Z80EX_BYTE read_memory(Z80EX_CONTEXT*, Z80EX_WORD addr, int, void*) { return memory[addr]; }
void write_memory(Z80EX_CONTEXT*, Z80EX_WORD addr, Z80EX_BYTE value, void*) { memory[addr] = value; }
Z80EX_BYTE read_port(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
void write_port(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE read_interrupt(Z80EX_CONTEXT*, void*) { return 0xFF; }

int hex(const std::string& s, size_t at, size_t digits)
{
    return int(std::strtol(s.substr(at, digits).c_str(), nullptr, 16));
}

// Intel HEX: ":LLAAAATT<data>CC" records; type 0 is data, 1 the end.
bool load_ihx(std::FILE* f)
{
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        const std::string s(line);
        if (s.size() < 11 || s[0] != ':')
            continue;
        const int n = hex(s, 1, 2), addr = hex(s, 3, 4), type = hex(s, 7, 2);
        if (type == 1)
            return true;
        if (type != 0 || s.size() < size_t(11 + 2 * n))
            return false;
        for (int i = 0; i < n; ++i)
            memory[size_t((addr + i) & 0xFFFF)] = (unsigned char)hex(s, size_t(9 + 2 * i), 2);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: z80run PROGRAM ADDRESS LENGTH MEMORY\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const std::string name = argv[1];
    const bool ihx = name.size() > 4 && name.compare(name.size() - 4, 4, ".ihx") == 0;
    const bool loaded = ihx ? load_ihx(f) : (std::fread(memory.data(), 1, memory.size(), f), !std::ferror(f));
    std::fclose(f);
    if (!loaded) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    const unsigned long address = std::strtoul(argv[2], nullptr, 0), length = std::strtoul(argv[3], nullptr, 0);
    if (address + length > memory.size()) {
        std::fprintf(stderr, "the memory ends before %lu + %lu\n", address, length);
        return 2;
    }

    Z80EX_CONTEXT* cpu =
        z80ex_create(read_memory, nullptr, write_memory, nullptr, read_port, nullptr, write_port, nullptr,
                     read_interrupt, nullptr);
    long steps = 0;
    while (!z80ex_doing_halt(cpu) && steps < 50000000) {
        z80ex_step(cpu);
        ++steps;
    }
    const bool halted = z80ex_doing_halt(cpu);
    z80ex_destroy(cpu);
    if (!halted) {
        std::fprintf(stderr, "the program did not halt\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[4], "wb");
    if (!out || std::fwrite(memory.data() + address, 1, length, out) != length || std::fclose(out) != 0) {
        std::perror(argv[4]);
        return 1;
    }
    return 0;
}
