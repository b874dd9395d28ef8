// movieTables.cpp - summary and population table from the frame index.
#include "cli/movieTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/progress.h"
#include "formats/numbers.h"

namespace tavo::cli {

using formats::kMaxNumberChars;
using formats::putInteger;
using formats::shortest;

namespace {

// A JSON string literal of `text`. Valid UTF-8 passes through; a byte that
// is not part of a valid sequence becomes U+FFFD, so the document stays
// valid whatever bytes a name holds.
std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // Length of the sequence a lead byte announces, and the smallest code
      // point it may carry (shorter forms are invalid).
      std::size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
      std::uint32_t cp = n == 4 ? c & 0x07u : n == 3 ? c & 0x0fu : c & 0x1fu;
      bool valid = n != 0 && i + n <= text.size();
      for (std::size_t k = 1; valid && k < n; ++k) {
        auto d = static_cast<unsigned char>(text[i + k]);
        valid = (d & 0xc0) == 0x80;
        cp = cp << 6 | (d & 0x3fu);
      }
      valid = valid && !(n == 3 && cp < 0x800) && !(n == 4 && (cp < 0x10000 || cp > 0x10ffff)) &&
              !(cp >= 0xd800 && cp <= 0xdfff);
      if (valid) {
        out.append(text.substr(i, n));
        i += n;
      } else {
        out += "\\ufffd";
        ++i;
      }
    }
  }
  return out + "\"";
}

std::string jsonNumber(double value) {
  return std::isfinite(value) ? shortest(value) : "null";  // JSON has no inf or nan
}

// Seconds for a human reader: six significant digits.
std::string seconds(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g s", value);
  return buf;
}

}  // namespace

MovieSummary summarize(const Movie& movie) {
  const Setup& setup = movie.setup();
  MovieSummary s;
  s.setupPath = setup.path;
  s.moviePath = movie.path();
  s.frames = movie.size();
  s.timeStep = setup.timeStep;
  s.bytes = movie.fileBytes();
  s.partialBytes = movie.partialBytes();
  s.format = movie.format();
  s.storedBytes = movie.storedBytes();
  s.runs = movie.runs();
  for (const Species& sp : setup.species) s.species.push_back({sp.id, sp.name, 0, 0, 0, 0});
  if (s.frames == 0) return s;
  s.firstStep = movie.step(0);
  s.lastStep = movie.step(s.frames - 1);
  for (SpeciesSummary& sp : s.species) {
    sp.first = sp.min = sp.max = movie.count(0, sp.id);
    sp.last = movie.count(s.frames - 1, sp.id);
  }
  for (std::size_t k = 1; k < s.frames; ++k)
    for (SpeciesSummary& sp : s.species) {
      int n = movie.count(k, sp.id);
      sp.min = std::min(sp.min, n);
      sp.max = std::max(sp.max, n);
    }
  return s;
}

void writeSummaryText(const MovieSummary& s, Output& out) {
  std::string text;
  text += "setup       " + s.setupPath + "\n";
  text += "movie       " + s.moviePath + "\n";
  if (s.format == "plain")
    text += "file size   " + std::to_string(s.bytes) + " bytes\n";
  else if (s.storedBytes >= 0)
    text += "text size   " + std::to_string(s.bytes) + " bytes, in " + s.format + " of " +
            std::to_string(s.storedBytes) + " bytes\n";
  else
    text += "text size   " + std::to_string(s.bytes) + " bytes, read from a " + s.format + "\n";
  if (s.partialBytes > 0)
    text += "partial     " + std::to_string(s.partialBytes) +
            " bytes after the last complete frame (not read)\n";
  text += "frames      " + std::to_string(s.frames) + "\n";
  if (s.frames > 0) {
    text +=
        "steps       " + std::to_string(s.firstStep) + " to " + std::to_string(s.lastStep) + "\n";
    text += "time        " + seconds(s.firstStep * s.timeStep) + " to " +
            seconds(s.lastStep * s.timeStep) + " (time step " + seconds(s.timeStep) + ")\n";
  } else {
    text += "time step   " + seconds(s.timeStep) + "\n";
  }
  // A movie appended to by a simulation started again: where each run starts.
  if (s.runs.size() > 1) {
    text += "runs        " + std::to_string(s.runs.size()) + "\n";
    for (std::size_t r = 0; r < s.runs.size(); ++r) {
      const Run& run = s.runs[r];
      text += "  run " + std::to_string(r) +
              std::string(r < 10    ? 5
                          : r < 100 ? 4
                                    : 3,
                          ' ') +
              "frames " + std::to_string(run.firstFrame) + " to " +
              std::to_string(run.firstFrame + run.frames - 1) + ", steps " +
              std::to_string(run.firstStep) + " to " + std::to_string(run.lastStep) + "\n";
    }
  }
  // The species table: live molecules per frame.
  std::size_t width = 7;  // "species"
  for (const SpeciesSummary& sp : s.species) width = std::max(width, sp.name.size());
  auto row = [&](const std::string& name, const std::string& id, const std::string(&cells)[4]) {
    std::string line = name + std::string(width - name.size() + 2, ' ');
    line += std::string(id.size() < 4 ? 4 - id.size() : 0, ' ') + id;
    for (const std::string& cell : cells)
      line += std::string(cell.size() < 10 ? 10 - cell.size() : 1, ' ') + cell;
    text += line + "\n";
  };
  text += "\n";
  row("species", "id", {"first", "min", "max", "last"});
  for (const SpeciesSummary& sp : s.species) {
    if (s.frames == 0) {
      row(sp.name, std::to_string(sp.id), {"-", "-", "-", "-"});
    } else {
      row(sp.name, std::to_string(sp.id),
          {std::to_string(sp.first), std::to_string(sp.min), std::to_string(sp.max),
           std::to_string(sp.last)});
    }
  }
  out.text(text);
}

void writeSummaryJson(const MovieSummary& s, Output& out) {
  const bool any = s.frames > 0;
  auto count = [any](int n) { return any ? std::to_string(n) : std::string("null"); };
  std::string text = "{\n";
  text += "  \"frames\": " + std::to_string(s.frames) + ",\n";
  text += "  \"first_step\": " + count(s.firstStep) + ",\n";
  text += "  \"last_step\": " + count(s.lastStep) + ",\n";
  text += "  \"time_step\": " + jsonNumber(s.timeStep) + ",\n";
  text += "  \"bytes\": " + std::to_string(s.bytes) + ",\n";
  text += "  \"partial_bytes\": " + std::to_string(s.partialBytes) + ",\n";
  text += "  \"runs\": [";
  for (std::size_t r = 0; r < s.runs.size(); ++r) {
    const Run& run = s.runs[r];
    text += r ? ",\n    " : "\n    ";
    text += "{\"first_frame\": " + std::to_string(run.firstFrame) +
            ", \"frames\": " + std::to_string(run.frames) +
            ", \"first_step\": " + std::to_string(run.firstStep) +
            ", \"last_step\": " + std::to_string(run.lastStep) + "}";
  }
  text += s.runs.empty() ? "],\n" : "\n  ],\n";
  text += "  \"species\": [";
  for (std::size_t i = 0; i < s.species.size(); ++i) {
    const SpeciesSummary& sp = s.species[i];
    text += i ? ",\n    " : "\n    ";
    text += "{\"id\": " + std::to_string(sp.id) + ", \"name\": " + jsonString(sp.name) +
            ", \"first\": " + count(sp.first) + ", \"min\": " + count(sp.min) +
            ", \"max\": " + count(sp.max) + ", \"last\": " + count(sp.last) + "}";
  }
  text += s.species.empty() ? "],\n" : "\n  ],\n";
  // What holds the text: the fields that differ between a movie and the
  // same movie compressed.
  text += "  \"format\": " + jsonString(s.format) + ",\n";
  text += "  \"file_bytes\": " +
          (s.storedBytes >= 0 ? std::to_string(s.storedBytes) : std::string("null")) + "\n}\n";
  out.text(text);
}

void checkFrames(const Movie& movie) {
  Progress progress("checking " + movie.path(), static_cast<std::int64_t>(movie.size()));
  Frame frame;
  for (std::size_t k = 0; k < movie.size(); ++k) {
    movie.read(k, frame);
    progress.update(static_cast<std::int64_t>(k + 1));
  }
}

void checkFrames(const Movie& movie, std::size_t first, std::size_t last) {
  Frame frame;
  for (std::size_t k = first; k < last; ++k) movie.read(k, frame);
}

void writePopulation(const Movie& movie, Output& out) {
  const Setup& setup = movie.setup();
  std::string header = "step:\t";
  for (const Species& sp : setup.species) header += sp.name + "\t";
  out.text(header + "\n");
  const std::size_t species = setup.species.size();
  for (std::size_t k = 0; k < movie.size(); ++k) {
    if (k > 0 && movie.step(k) == 0) out.text(header + "\n");
    // A row: the step and one count per species, each followed by a tab.
    char* p = out.room(kMaxNumberChars + 1);
    p = putInteger(p, movie.step(k));
    *p++ = '\t';
    out.advance(p);
    for (std::size_t s = 0; s < species; ++s) {
      p = out.room(kMaxNumberChars + 2);
      p = putInteger(p, movie.count(k, static_cast<int>(s)));
      *p++ = '\t';
      out.advance(p);
    }
    out.text("\n");
  }
}

}  // namespace tavo::cli
