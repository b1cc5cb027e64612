// Frames in the form the framer stores them, for tests that feed observers
// and row formatters directly.
#pragma once

#include "frames.h"

#include <string_view>

namespace quorvid::testframes {

// An identification frame in the framer's stored form: each character widened.
inline ByteString storedIdentification(std::string_view text)
{
    ByteString out{kIdentificationHeader};
    for (char c : text) {
        out.push_back(static_cast<Byte>(c));
        out.push_back(0);
    }
    return out;
}

}  // namespace quorvid::testframes
