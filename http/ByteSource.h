#pragma once

#include <cstddef>

namespace quelvar {

// A stream of reply bytes: a plain socket, a TLS connection or, for fuzzing, a memory buffer.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to size bytes into buffer and returns how many arrived, 0 once the peer has
    // closed the stream; throws Error when reading fails or times out.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

}  // namespace quelvar
