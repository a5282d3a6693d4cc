// The export as comma-separated values (RFC 4180). Texts are always quoted and numbers never, so
// that reading the file back tells a study named "3" from the time point 3.
#include "ExportFormats.h"

#include "FileList.h"

#include <QFile>

#include <charconv>
#include <cmath>

namespace {

// Shortest text that reads back as the same double; '.' as the decimal separator whatever the locale.
QString FormatReal(double v)
{
    if (!std::isfinite(v))
        return QString(); // no spreadsheet reads "inf"; GetParam never gives one
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, res.ptr - buf);
}

QString Field(const TCell& c)
{
    if (const QString* text = std::get_if<QString>(&c.Value))
        return u'"' + QString(*text).replace(u'"', QLatin1String("\"\"")) + u'"';
    if (const int32_t* i = std::get_if<int32_t>(&c.Value))
        return QString::number(*i);
    return FormatReal(std::get<double>(c.Value));
}

struct TField {
    QString Text;
    bool Quoted = false;
};
using TRecord = std::vector<TField>;

[[noreturn]] void Malformed(qsizetype record, const char* what)
{
    throw TOrvixError(QString("line %1: %2").arg(record + 1).arg(what).toStdString());
}

// One field from position i; i ends on the character after it (a separator, a line end or the end).
TField ParseField(const QString& text, qsizetype& i, qsizetype record)
{
    TField f;
    const qsizetype n = text.size();
    if (i < n && text[i] == u'"') {
        f.Quoted = true;
        for (++i;; ++i) {
            if (i >= n)
                Malformed(record, "unterminated quoted field");
            if (text[i] == u'"') {
                if (i + 1 < n && text[i + 1] == u'"') {
                    f.Text += u'"';
                    ++i;
                    continue;
                }
                ++i;
                break;
            }
            f.Text += text[i];
        }
        if (i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n')
            Malformed(record, "text after a quoted field");
        return f;
    }
    for (; i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n'; ++i) {
        if (text[i] == u'"')
            Malformed(record, "a quote inside a bare field");
        f.Text += text[i];
    }
    return f;
}

std::vector<TRecord> ParseCsv(const QString& text)
{
    std::vector<TRecord> records;
    TRecord record;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        record.push_back(ParseField(text, i, qsizetype(records.size())));
        if (i < n && text[i] == u',') {
            ++i;
            if (i == n)
                record.push_back({});
            else
                continue;
        } else if (i < n) {
            i += (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
        }
        records.push_back(std::move(record));
        record.clear();
    }
    return records;
}

bool ParseNumber(const QString& s, std::variant<QString, int32_t, double>& value)
{
    const QByteArray b = s.toLatin1();
    const char* end = b.constData() + b.size();
    int32_t i = 0;
    if (auto [p, ec] = std::from_chars(b.constData(), end, i); ec == std::errc() && p == end) {
        value = i;
        return true;
    }
    double d = 0;
    if (auto [p, ec] = std::from_chars(b.constData(), end, d); ec == std::errc() && p == end && std::isfinite(d)) {
        value = d;
        return true;
    }
    return false;
}

} // namespace

void SaveWhole(const QString& FileName, const QByteArray& Bytes)
{
    WriteFileWhole(FileName, Bytes);
}

void WriteCsv(const QString& FileName, const TCells& Cells)
{
    int32_t width = 0;
    for (const TCell& c : Cells) {
        if (c.Row < 1 || c.Column < 1)
            throw TOrvixError("a cell outside the sheet");
        width = std::max(width, c.Column);
    }
    QByteArray out;
    size_t next = 0;
    const int32_t lastRow = Cells.empty() ? 0 : Cells.back().Row;
    for (int32_t row = 1; row <= lastRow; ++row) {
        QStringList fields(width);
        for (; next < Cells.size() && Cells[next].Row == row; ++next)
            fields[Cells[next].Column - 1] = Field(Cells[next]);
        out += fields.join(u',').toUtf8() + "\r\n";
    }
    SaveWhole(FileName, out);
}

TCells ReadCsv(const QString& FileName)
{
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw TOrvixError(QString("cannot read %1: %2").arg(FileName, file.errorString()).toStdString());
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const std::vector<TRecord> records = ParseCsv(text);
    TCells cells;
    for (size_t r = 0; r < records.size(); ++r)
        for (size_t c = 0; c < records[r].size(); ++c) {
            const TField& f = records[r][c];
            TCell cell{int32_t(r + 1), int32_t(c + 1), f.Text};
            if (!f.Quoted && f.Text.isEmpty())
                continue;
            if (!f.Quoted && !ParseNumber(f.Text, cell.Value))
                Malformed(qsizetype(r), "a bare field that is not a number");
            cells.push_back(std::move(cell));
        }
    return cells;
}
