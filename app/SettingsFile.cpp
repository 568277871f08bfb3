#include "app/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>
#include <utility>

#include "http/Error.h"

namespace quelvar {

namespace {

constexpr qsizetype kBlockSize = 4096;

const QString kUsaHttpsMarker = QStringLiteral("const USA_HTTPS = ");
const QString kIpExternoMarker = QStringLiteral("const IP_EXTERNO = ");
const QString kIpInternoMarker = QStringLiteral("const IP_INTERNO = ");

const char kNoMappingMessage[] =
    "No mapping for the Unicode character exists in the target multi-byte code page";

// Returns the system's text for an error number without trailing blanks, line breaks and full
// stops.
QString systemText(int error) {
    QString text = QString::fromLocal8Bit(std::generic_category().message(error));
    while (!text.isEmpty()) {
        const QChar last = text.back();
        if (last != u' ' && last != u'\t' && last != u'\r' && last != u'\n' && last != u'.') {
            break;
        }
        text.chop(1);
    }
    return text;
}

[[noreturn]] void throwCannotOpen(const QString& path, int error) {
    throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                    .arg(path, systemText(error))
                    .toUtf8()
                    .toStdString());
}

// The open settings file; closing it also releases its lock.
class FileHandle {
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { ::close(m_fd); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Opens the file for reading with an exclusive hold: another process that holds or asks for a
// lock on it is refused while it is open here, and it is refused here while another holds one.
int openExclusive(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking for the open only, so that a FIFO without writer cannot hang the window.
    int fd = ::open(native.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throwCannotOpen(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throwCannotOpen(path, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throwCannotOpen(path, EISDIR);
    }
    // A flock() lock belongs to the open file description, so it is taken on a read-only
    // descriptor too (an fcntl write lock would need write access). Where the file system
    // offers no locks at all, the file is read without one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        throwCannotOpen(path, EWOULDBLOCK);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

enum class Encoding { Utf8Strict, Utf8, Utf16LittleEndian, Utf16BigEndian };

// Decodes the file block by block into UTF-16 code units, carrying the bytes of a character
// that straddles two blocks over to the next block.
class BlockDecoder {
public:
    explicit BlockDecoder(int fd) : m_fd(fd) {}

    // Reads and decodes the next block and appends its text; returns false at the end of the
    // file. Throws Error on a read failure and, without byte-order mark, on bytes that are not
    // UTF-8.
    bool decodeNextBlock(QString& text) {
        if (m_atEnd) {
            return false;
        }
        const QByteArray block = fetchBlock();
        if (block.isEmpty()) {
            m_atEnd = true;
            finish(text);
            return false;
        }
        qsizetype start = 0;
        if (m_first) {
            m_first = false;
            start = detectByteOrderMark(block.constData(), block.size());
        }
        m_pending.append(block.constData() + start, block.size() - start);
        // A sequence cut off by the end of the block is completed by the next block, unless
        // this block is the file's last: then it is a fault of this block. A block shorter
        // than full is the last; a full one may be too, which only a look ahead tells.
        const bool last = block.size() < kBlockSize || peekAtEnd();
        decodePending(text, last);
        return true;
    }

private:
    QByteArray fetchBlock() {
        if (!m_lookahead.isEmpty()) {
            return std::exchange(m_lookahead, {});
        }
        return readBlock();
    }

    bool peekAtEnd() {
        if (m_lookahead.isEmpty()) {
            m_lookahead = readBlock();
        }
        return m_lookahead.isEmpty();
    }

    QByteArray readBlock() {
        QByteArray block(kBlockSize, Qt::Uninitialized);
        qsizetype total = 0;
        while (total < kBlockSize) {
            const ssize_t got = ::read(m_fd, block.data() + total, kBlockSize - total);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw Error(systemText(errno).toUtf8().toStdString());
            }
            if (got == 0) {
                break;
            }
            total += got;
        }
        block.truncate(total);
        return block;
    }

    // The marks are tested in this order; the mark is no part of the text.
    qsizetype detectByteOrderMark(const char* data, qsizetype count) {
        const auto byte = [data](qsizetype i) { return static_cast<unsigned char>(data[i]); };
        if (count >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
            m_encoding = Encoding::Utf8;
            return 3;
        }
        if (count >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
            m_encoding = Encoding::Utf16LittleEndian;
            return 2;
        }
        if (count >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
            m_encoding = Encoding::Utf16BigEndian;
            return 2;
        }
        return 0;
    }

    void finish(QString& text) {
        if (m_pending.isEmpty()) {
            return;
        }
        if (m_encoding == Encoding::Utf16LittleEndian || m_encoding == Encoding::Utf16BigEndian) {
            // A lone last byte of a UTF-16 file is half a code unit: nothing to decode.
            m_pending.clear();
            return;
        }
        decodePending(text, true);
    }

    void decodePending(QString& text, bool atEnd) {
        switch (m_encoding) {
            case Encoding::Utf16LittleEndian:
            case Encoding::Utf16BigEndian:
                decodeUtf16(text);
                break;
            case Encoding::Utf8Strict:
            case Encoding::Utf8:
                decodeUtf8(text, atEnd);
                break;
        }
    }

    void decodeUtf16(QString& text) {
        const qsizetype units = m_pending.size() / 2;
        text.reserve(text.size() + units);
        for (qsizetype i = 0; i < units; ++i) {
            const auto first = static_cast<unsigned char>(m_pending[2 * i]);
            const auto second = static_cast<unsigned char>(m_pending[2 * i + 1]);
            const char16_t unit = m_encoding == Encoding::Utf16LittleEndian
                                      ? static_cast<char16_t>(first | (second << 8))
                                      : static_cast<char16_t>((first << 8) | second);
            text.append(QChar(unit));
        }
        m_pending.remove(0, units * 2);
    }

    // Decodes every complete UTF-8 sequence of the pending bytes. A sequence that is cut off
    // by the end of the block waits for the next block; at the end of the file it is invalid.
    // Decoding is all or nothing per block when strict, so a block with a fault adds no text.
    void decodeUtf8(QString& text, bool atEnd) {
        const bool strict = m_encoding == Encoding::Utf8Strict;
        QString decoded;
        decoded.reserve(m_pending.size());
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_pending.constData());
        const qsizetype size = m_pending.size();
        qsizetype i = 0;
        while (i < size) {
            const unsigned char lead = bytes[i];
            if (lead < 0x80) {
                decoded.append(QChar(char16_t(lead)));
                ++i;
                continue;
            }
            int length = 0;
            char32_t codePoint = 0;
            unsigned char low = 0x80;
            unsigned char high = 0xBF;
            if (lead >= 0xC2 && lead <= 0xDF) {
                length = 2;
                codePoint = lead & 0x1F;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                length = 3;
                codePoint = lead & 0x0F;
                // No overlong forms and no encoded surrogates (RFC 3629 section 4).
                if (lead == 0xE0) {
                    low = 0xA0;
                } else if (lead == 0xED) {
                    high = 0x9F;
                }
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                length = 4;
                codePoint = lead & 0x07;
                if (lead == 0xF0) {
                    low = 0x90;
                } else if (lead == 0xF4) {
                    high = 0x8F;
                }
            }
            // The number of bytes of a valid prefix of the sequence that are present.
            int valid = length == 0 ? 0 : 1;
            while (valid > 0 && valid < length && i + valid < size) {
                const unsigned char next = bytes[i + valid];
                const unsigned char min = valid == 1 ? low : 0x80;
                const unsigned char max = valid == 1 ? high : 0xBF;
                if (next < min || next > max) {
                    break;
                }
                codePoint = (codePoint << 6) | (next & 0x3F);
                ++valid;
            }
            if (length != 0 && valid == length) {
                if (codePoint >= 0x10000) {
                    decoded.append(QChar::highSurrogate(codePoint));
                    decoded.append(QChar::lowSurrogate(codePoint));
                } else {
                    decoded.append(QChar(char16_t(codePoint)));
                }
                i += length;
                continue;
            }
            if (length != 0 && i + valid == size && !atEnd) {
                break;  // Straddles the block boundary: completed by the next block.
            }
            if (strict) {
                throw Error(kNoMappingMessage);
            }
            decoded.append(QChar::ReplacementCharacter);
            i += valid == 0 ? 1 : valid;
        }
        m_pending.remove(0, i);
        text.append(decoded);
    }

    int m_fd;
    bool m_first = true;
    bool m_atEnd = false;
    Encoding m_encoding = Encoding::Utf8Strict;
    QByteArray m_pending;
    QByteArray m_lookahead;
};

// Splits the decoded text into lines at LF, CR LF and a lone CR, decoding further blocks only
// when a line needs them.
class LineReader {
public:
    explicit LineReader(BlockDecoder& decoder) : m_decoder(decoder) {}

    // Returns whether another line follows, decoding the next block when none is buffered.
    bool atEnd() {
        while (m_position >= m_text.size()) {
            compact();
            if (!m_decoder.decodeNextBlock(m_text)) {
                return m_position >= m_text.size();
            }
        }
        return false;
    }

    // Returns the next line without its line end.
    QString readLine() {
        qsizetype scanFrom = m_position;
        for (;;) {
            for (qsizetype i = scanFrom; i < m_text.size(); ++i) {
                const QChar c = m_text.at(i);
                if (c == u'\n') {
                    return take(i, 1);
                }
                if (c == u'\r') {
                    // A CR at the end of the buffered text may be the first half of a CR LF
                    // whose LF is in the next block.
                    while (i + 1 >= m_text.size()) {
                        const qsizetype offset = i - m_position;
                        compact();
                        i = m_position + offset;
                        if (!m_decoder.decodeNextBlock(m_text)) {
                            break;
                        }
                    }
                    const bool crlf = i + 1 < m_text.size() && m_text.at(i + 1) == u'\n';
                    return take(i, crlf ? 2 : 1);
                }
            }
            const qsizetype scanned = m_text.size() - m_position;
            compact();
            scanFrom = m_position + scanned;
            if (!m_decoder.decodeNextBlock(m_text)) {
                return take(m_text.size(), 0);
            }
        }
    }

private:
    QString take(qsizetype end, qsizetype lineEndLength) {
        QString line = m_text.mid(m_position, end - m_position);
        m_position = end + lineEndLength;
        return line;
    }

    void compact() {
        m_text.remove(0, m_position);
        m_position = 0;
    }

    BlockDecoder& m_decoder;
    QString m_text;
    qsizetype m_position = 0;
};

// Returns count code units from the 1-based position start, or the empty text when the count
// is not positive or the start lies beyond the line.
QString cut(const QString& line, qsizetype start, qsizetype count) {
    if (count <= 0 || start > line.size()) {
        return {};
    }
    return line.mid(start - 1, count);
}

void applyLine(const QString& line, SettingsTarget& target) {
    const qsizetype n = line.size();
    // Every marker holds an "=", so e exists whenever a marker is found.
    const auto e = [&line] { return line.indexOf(u'=') + 1; };
    if (line.contains(kUsaHttpsMarker)) {
        target.setUsaHttps(cut(line, e() + 2, n - e() - 2) == u"true");
    }
    if (line.contains(kIpExternoMarker)) {
        target.setIpExterno(cut(line, e() + 3, n - e() - 4));
    }
    if (line.contains(kIpInternoMarker)) {
        target.setIpInterno(cut(line, e() + 3, n - e() - 4));
    }
}

}  // namespace

QString SettingsFile::besideExecutable() {
    const QString directory = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    return QDir(directory).filePath(QStringLiteral("config.js"));
}

void SettingsFile::read(const QString& path, SettingsTarget& target) {
    FileHandle file(openExclusive(path));
    BlockDecoder decoder(file.fd());
    LineReader lines(decoder);
    while (!lines.atEnd()) {
        applyLine(lines.readLine(), target);
    }
}

}  // namespace quelvar
