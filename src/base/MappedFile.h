#pragma once
// MappedFile: a read-only memory view of a whole file. The view and the descriptor are
// released by the destructor, so every path out of a reader closes the file.

#include <cstddef>
#include <string>

namespace lumivox {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    // Maps the file at path read-only. Returns false (with a reason in *error when given)
    // when the file cannot be opened, is not a regular file or cannot be mapped. An empty
    // file opens successfully with Data() == nullptr and Size() == 0.
    bool Open(const std::string& path, std::string* error = nullptr);
    void Close();

    bool IsOpen() const { return open_; }
    const unsigned char* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    bool open_ = false;
};

} // namespace lumivox
