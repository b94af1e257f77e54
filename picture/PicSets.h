// The three picture sets: their check marks, the picture list file, and the picture a new
// game shows.
#pragma once

#include <string>

class Form2;

namespace kelvora {

constexpr const char* ListFileName = "qorfile.txt";

// Start-up defaults: "Set1" checked, the others not.
void SetDefaultPicSet(Form2& form2);

// Reads the first three lines of the list file into the three paths, unexamined.
void ReadListFile(std::string& PicFile1, std::string& PicFile2, std::string& PicFile3);

// Loads the checked set's picture into Image1, afresh from its file.
void LoadCheckedPicture(Form2& form2, const std::string& PicFile1, const std::string& PicFile2,
                        const std::string& PicFile3);

} // namespace kelvora
