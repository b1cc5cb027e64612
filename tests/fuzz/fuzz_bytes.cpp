// libFuzzer target over the reader of recorded .bytes files, which come from
// other people: any input is parsed without a crash, a refusal names its line,
// and what is accepted survives being written again in the recorder's format
// and read back: the same blocks, bytes and times to the microsecond. The
// start notes read any comment, and any input goes through the CSV's text
// column and back unchanged.
#include "bytesreader.h"
#include "csvrows.h"
#include "notes.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quorvid::record;

namespace {

// A field as a CSV reader hands it over: RFC 4180 quotes removed.
std::string unquoted(const std::string& field)
{
    if (field.size() < 2 || field.front() != '"') return field;
    std::string out;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        out.push_back(field[i]);
        if (field[i] == '"') ++i;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView text(data, static_cast<qsizetype>(size));

    // The CSV's text column gives back any text exactly, and reads any field.
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(textFromCsv(unquoted(csvText(raw))) == raw);
    (void)textFromCsv(raw);
    QString error;
    const auto read = parseBytes(text, &error);
    if (!read) {
        FUZZ_CHECK(error.startsWith(QLatin1String("line ")));
        return 0;
    }

    // The start notes read whatever the comments say.
    StartNotes notes;
    for (const QString& comment : read->comments) notes.take(comment);
    (void)notes.portText();

    std::int64_t previous = 0;
    for (const RecordedBlock& block : read->blocks) {
        FUZZ_CHECK(block.microseconds >= previous);
        FUZZ_CHECK(!block.bytes.isEmpty());
        previous = block.microseconds;
    }

    QByteArray again;
    for (const QString& comment : read->comments) {
        again += "# ";
        again += comment.toUtf8();
        again += '\n';
    }
    for (const RecordedBlock& block : read->blocks) appendBytesLine(again, block.microseconds, block.bytes);
    const auto reread = parseBytes(again, &error);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(reread->blocks == read->blocks);
    FUZZ_CHECK(reread->comments.size() == read->comments.size());
    return 0;
}
