// Writes the program's icon as a Windows icon file, for the Windows build's resources:
//   tarvo32_icon resources/win32/tarvo32.ico
// Run again whenever the icon's drawing changes; a test compares the file with the drawing.
#include <cstdio>
#include <vector>

#include "resources/icons.h"
#include "resources/icons/ico_file.h"
#include "resources/icons/pictures.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvo32_icon FILE.ico\n");
        return 2;
    }
    std::vector<uint8_t> bytes = resources::icoFile(resources::picturePixels(IconApplication));
    std::FILE* f = std::fopen(argv[1], "wb");
    if (bytes.empty() || f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "tarvo32_icon: cannot write %s\n", argv[1]);
        if (f != nullptr) {
            std::fclose(f);
        }
        return 1;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
