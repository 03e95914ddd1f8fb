#include "decode_command.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string_view>

#include "platform/codepage.h"
#include "record/field_record.h"

namespace kdx::host {
namespace {

// The control decodes each record line into a buffer of this size, terminator included.
constexpr int kLineBufferSize = 8192;

// A string field as one quoted UTF-8 text, control characters escaped.
std::string Quote(std::u16string_view text) {
  std::u16string escaped;
  escaped.reserve(text.size() + 2);
  auto hex = [](unsigned v) { return static_cast<char16_t>(v < 10 ? u'0' + v : u'a' + v - 10); };
  for (char16_t c : text) {
    switch (c) {
      case u'"': escaped += u"\\\""; break;
      case u'\\': escaped += u"\\\\"; break;
      case u'\n': escaped += u"\\n"; break;
      case u'\r': escaped += u"\\r"; break;
      case u'\t': escaped += u"\\t"; break;
      default:
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
          escaped += u"\\u00";
          escaped += hex(c >> 4);
          escaped += hex(c & 15u);
        } else {
          escaped += c;
        }
    }
  }
  return "\"" + Utf16ToUtf8(escaped) + "\"";
}

void PrintRecord(std::ostream& out, long lineNumber, char kind, const FieldRecord& r) {
  out << "line " << lineNumber << " kind ";
  if (kind > 0x20 && kind < 0x7F) {
    out << kind;
  } else {
    out << Quote(std::u16string(1, static_cast<char16_t>(static_cast<unsigned char>(kind))));
  }
  out << " type " << r.GetRecordType() << ':';
  for (int id = 0; id < r.GetNumberCapacity(); ++id)
    if (r.GetNumber(id) != kAbsent) out << " n" << id << '=' << r.GetNumber(id);
  for (int id = 0; id < r.GetStringCapacity(); ++id)
    if (r.GetString(id)) out << " s" << id << '=' << Quote(r.GetStringView(id));
  out << '\n';
}

class ReplyDecoder {
 public:
  ReplyDecoder(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  // One line as the control splits them; false once a kind-'1' line ended the reply.
  bool Line(long number, std::string_view line) {
    if (line.size() < 4 || line[0] != 'd' || line[2] != 'D' || line[3] != ' ') {
      ++summary_.other;
      return true;
    }
    const char kind = line[1];
    const std::string_view body = line.substr(4);
    // Reply bodies carry one byte per character.
    const int size = body.size() > static_cast<std::size_t>(INT_MAX)
                         ? -1
                         : DecodeRecordText(bytes_, kLineBufferSize, body.data(), static_cast<int>(body.size()));
    FieldRecord record;
    const char* problem = size < 0   ? "record text too long for the line buffer"
                          : size == 0 ? "record text is empty"
                          : size == 1 ? "record too short"
                          : record.Decode(bytes_, 0, size) < 0 ? "check character does not match"
                                                               : nullptr;
    if (problem) {
      ++summary_.bad;
      out_.flush();  // keeps the report next to the records around it on a terminal
      err_ << "line " << number << ": " << problem << '\n';
      return true;
    }
    ++summary_.records;
    PrintRecord(out_, number, kind, record);
    if (record.GetDecodePosition() != size - 1) {
      ++summary_.malformed;
      out_.flush();
      err_ << "line " << number << ": malformed field at byte " << record.GetDecodePosition()
           << " of " << size << "; the fields after it are lost\n";
    }
    if (kind == '1') {
      summary_.ended = true;
      out_ << "line " << number << ": end of reply (kind 1); the control ignores the lines after it\n";
      return false;
    }
    return true;
  }

  const DecodeSummary& Summary() const { return summary_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  DecodeSummary summary_;
  unsigned char bytes_[kLineBufferSize];
};

}  // namespace

DecodeSummary DecodeReply(std::istream& in, std::ostream& out, std::ostream& err) {
  ReplyDecoder decoder(out, err);
  std::string physical;
  // Numbered by physical line; a carriage return inside one also separates, as the control
  // splits at runs of carriage returns and line feeds.
  for (long number = 1; std::getline(in, physical); ++number) {
    std::string_view rest = physical;
    while (!rest.empty()) {
      const std::size_t cut = rest.find('\r');
      const std::string_view line = rest.substr(0, cut);
      if (!line.empty() && !decoder.Line(number, line)) return decoder.Summary();
      if (cut == std::string_view::npos) break;
      rest.remove_prefix(cut + 1);
    }
  }
  return decoder.Summary();
}

int DecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool strict = false;
  std::optional<std::string> path;
  for (const auto& arg : args) {
    if (arg == "--strict") {
      strict = true;
    } else if (!path && (arg == "-" || arg.empty() || arg[0] != '-')) {
      path = arg;
    } else {
      err << "kdx-host decode: unexpected argument '" << arg << "'\nusage: kdx-host decode [--strict] [FILE]\n";
      return 2;
    }
  }
  DecodeSummary summary;
  if (!path || *path == "-") {
    summary = DecodeReply(std::cin, out, err);
  } else {
    std::error_code ec;
    std::ifstream file;
    if (!std::filesystem::is_directory(*path, ec)) file.open(*path, std::ios::binary);
    if (!file.is_open()) {
      err << "kdx-host decode: cannot open '" << *path << "'\n";
      return 2;
    }
    summary = DecodeReply(file, out, err);
    if (file.bad()) {
      err << "kdx-host decode: read error on '" << *path << "'\n";
      return 2;
    }
  }
  err << "kdx-host decode: " << summary.records << " record(s), " << summary.bad << " bad line(s), "
      << summary.malformed << " malformed, " << summary.other << " other line(s)\n";
  return strict && (summary.bad > 0 || summary.malformed > 0) ? 1 : 0;
}

}  // namespace kdx::host
