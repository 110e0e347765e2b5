// The whole of an input read into memory once, the same on every system:
// the bytes that are checked are the bytes that are converted, however the
// file changes afterwards. A regular file takes room of its size; a stream,
// which may never end, takes room as it comes, up to a cap.
#include "platform.h"

#include <algorithm>
#include <cstdlib>

// From this size on, an input's memory is worth large pages: a few of them.
static constexpr std::size_t large_input = std::size_t{4} << 20;

read_result read_input(std::FILE *in, input_bytes *b, std::size_t until) {
  std::uint64_t file_size = 0;
  bool regular = input_size(in, &file_size);
  while (b->size < until) {
    if (b->size == b->room) {
      // Room is taken only for a byte that is there: a regular file read to
      // its size is at its end unless it grew.
      std::uint8_t probe = 0;
      if (std::fread(&probe, 1, 1, in) != 1) {
        break;
      }
      if (!regular && b->size >= max_stream_input) {
        return read_result::too_large;
      }
      std::size_t room = b->room < 64 * 1024 ? 64 * 1024 : b->room * 2;
      if (regular && file_size > b->size && file_size <= SIZE_MAX) {
        room = static_cast<std::size_t>(file_size);
      }
      room = std::min(room, until);
      room = regular ? room : std::min(room, max_stream_input);
      auto *grown = static_cast<std::uint8_t *>(std::realloc(b->data, room));
      if (grown == nullptr) {
        return read_result::no_memory;
      }
      b->data = grown;
      b->room = room;
      if (room >= large_input) {
        advise_large_input(grown, room);
      }
      b->data[b->size++] = probe;
      continue;
    }
    std::size_t want = std::min(b->room, until) - b->size;
    std::size_t got = std::fread(b->data + b->size, 1, want, in);
    b->size += got;
    if (got < want) {
      break;
    }
  }
  return std::ferror(in) ? read_result::failed : read_result::ok;
}
