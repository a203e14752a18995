#pragma once
// What a file's messages call the files the driver and the renderer make for it.
//
// The interpreter never reads the user's file by the user's name alone: it may read a link of
// a plain name in the file's page folder, or an unpacked copy, and it writes page files there.
// The renderer, the engine and the interpreter itself name those in their reasons. Before a
// reason reaches the row, the CLI or a report, every such name is put back into the words the
// person converting knows: the source file as the list names it, "page 7" for a page file, "the
// unpacked copy of <source>", the temporary folder for the page folder, and the output folder
// for the descriptor it is written through.

#include <string>

namespace orvalis {

struct InternalNames {
  std::string source;       // the user's file, as the list names it
  std::string pageFolder;   // the file's page folder, ending in '/'; "" before it is made
  std::string pageStem;     // what its page files are named after (page_files.h)
  std::string writeFolder;  // "/proc/self/fd/N/" the outputs are written through, or ""
  std::string target;       // the output folder as named, ending in '/'
};

// `text` with every name of `names`' internal files replaced by the user's.
std::string ShownToUser(const InternalNames& names, std::string text);

}  // namespace orvalis
