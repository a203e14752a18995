#pragma once
// PostScript documents whose pages depend on the whole run that draws them, for checking that a
// file's images all come from one run of it, in its order:
//   - pages wrapped in save ... setpagedevice ... showpage restore, as ps2write writes them (every
//     pdf2ps and ps2ps file): the restore brings back the page device's page counter;
//   - copies, through /#copies and through /NumCopies: each page prints several times;
//   - a document that numbers its pages from currentpagedevice /PageCount and stops after six;
//   - a document that seeds its drawing from the clock (realtime).
// Every image tells itself apart: its left half has the grey 20 x its page number, its right
// half the grey of a value of the whole run (fixed, or the clock's seed).

#include <optional>
#include <string>
#include <vector>

namespace orvalis::test {

struct StatefulDocument {
  std::string name;          // what it shows, for messages
  std::string path;          // the .ps file
  std::string stem;          // the file name without ".ps": the images' base name
  std::vector<int> pages;    // the page each image shows, in image order
  std::optional<int> value;  // the right half's grey; nullopt: set by the run, one for all
};

// Writes the documents into `folder` (which exists); the ps2write one is made from a plain
// document by Debian's ps2ps. Empty, with the reason in `error`, when one cannot be made.
std::vector<StatefulDocument> WriteStatefulDocuments(const std::string& folder, std::string* error);

// The images a conversion into `folder` (ending in '/') writes for `document`, one per page
// image: <stem>_001<extension>, <stem>_002<extension>, ...
std::vector<std::string> ImagesOf(const StatefulDocument& document, const std::string& folder,
                                  const std::string& extension);

// "" when the frames of `images` (files in order, each file's frames in order), read by Pillow,
// are the document's pages of one run, in its order; otherwise what is wrong.
std::string CheckImages(const StatefulDocument& document, const std::vector<std::string>& images);

}  // namespace orvalis::test
