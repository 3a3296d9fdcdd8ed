#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "app/shell/shell_test_support.h"

TempFolder::TempFolder() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("ov_shell_test_" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::u16string TempFolder::windows(const std::string& name) const {
    std::string host = (name.empty() ? m_path : m_path / name).string();
    std::u16string out = u"C:";
    for (char c : host) out.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
    return out;
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string utf16le(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}
