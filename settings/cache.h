// The cached body's block. In front of the body lie the index over its
// records and the file's magic, so that the file's image (magic, then body)
// is one piece that is read and written with one call each.
#pragma once

#include <cstddef>

#include "settings/format.h"
#include "settings/index.h"

namespace pellam {
namespace detail {

using format::Byte;

// A body of `length` bytes (not yet filled) with the magic in front; null
// for 0 bytes or when there is no memory.
Byte* NewBody(size_t length);
void FreeBody(Byte* body);
// The file image of a body: the magic and then the body.
inline Byte* ImageOf(Byte* body) { return body - format::kMagicSize; }

// The index over a body, built on its first use; null when there is no
// memory for it (the walks then find what it would).
const format::Index* IndexOf(const Byte* body, size_t length);
// The body's records were read or moved anew: the index is built again on
// its next use. (Values overwritten in place leave it valid.)
void Reindex(Byte* body);

}  // namespace detail
}  // namespace pellam
