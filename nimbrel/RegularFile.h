#pragma once

#include <cstdint>
#include <string>

namespace Nimbrel {

// Opens the local files of a storage job. An open never blocks (a named pipe
// without a writer would), and only a regular file is used: anything else
// fails at once. Each returns a descriptor without O_NONBLOCK, or -1 with errno set.
namespace RegularFile {

int openForReading(const std::string& path);
// Creates the file when it is missing; an existing one is kept as it is.
int openForWriting(const std::string& path);
// True when nothing stands at the path or a regular file does.
bool isRegularOrMissing(const std::string& path);
// The whole file, when it holds at most maxSize bytes.
bool readAll(const std::string& path, int64_t maxSize, std::string& bytes);

} // namespace RegularFile

} // namespace Nimbrel
