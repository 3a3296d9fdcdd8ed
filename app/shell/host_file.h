// Opening a Windows-form file name for the logs of the shell.
#pragma once
#include <fstream>
#include <string>

// Creates (or empties) the file for binary writing; false when it cannot.
bool OpenHostFileForWriting(const std::u16string& windowsPath, std::ofstream& out);
