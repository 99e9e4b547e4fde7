#include "picture_files/convert_files.h"

#include "core/runtime.h"
#include "core/services.h"
#include "picture_files/save_jpeg.h"
#include "platform/files/file_names.h"
#include "platform/files/file_stamp.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace picture_files
{

namespace
{
// Memory the conversions under way hold together: one that would break the
// bound waits until enough is given back; one larger than the bound runs alone.
class MemoryBudget
{
public:
    explicit MemoryBudget(qint64 total) : total_(total) {}
    void take(qint64 bytes)
    {
        if (total_ <= 0)
            return;
        std::unique_lock hold(lock_);
        given_.wait(hold, [&] { return taken_ == 0 || taken_ + bytes <= total_; });
        taken_ += bytes;
    }
    void giveBack(qint64 bytes)
    {
        if (total_ <= 0)
            return;
        {
            const std::lock_guard hold(lock_);
            taken_ -= bytes;
        }
        given_.notify_all();
    }

private:
    const qint64 total_;
    qint64 taken_ = 0;
    std::mutex lock_;
    std::condition_variable given_;
};

// A name as the folder that holds it compares names.
QString clashKey(const QString &absolute, const QHash<QString, bool> &foldersIgnoringCase)
{
    const QFileInfo info(absolute);
    return foldersIgnoringCase.value(info.absolutePath())
               ? info.absolutePath() + u'/' + info.fileName().toCaseFolded()
               : absolute;
}
} // namespace

qint64 conversionBytes(qint64 pixels)
{
    // The 32-bit picture, a flattened copy at times, the coefficients and the file.
    return pixels * 8;
}

int convertFiles(const QList<Conversion> &conversions, const ConvertOptions &options,
                 const ConvertServices &sys, QTextStream &errors)
{
    const int32_t quality = options.quality;
    const bool force = options.force;
    const qsizetype n = conversions.size();
    if (n == 0)
        return 0;
    // What each conversion has to say, printed in the inputs' order.
    struct Outcome {
        QString said;
        bool failed = false;
        bool done = false;
    };
    std::vector<Outcome> outcomes(static_cast<size_t>(n));
    const auto fail = [&](qsizetype i, const QString &why) {
        const Conversion &c = conversions[i];
        outcomes[size_t(i)].said =
            QStringLiteral("mipoquibbo: %1 -> %2: %3\n").arg(c.input, c.output, why);
        outcomes[size_t(i)].failed = true;
    };
    const auto sameOutput = [&](qsizetype earlier) {
        return QStringLiteral("%1 と同じ出力名です").arg(conversions[earlier].input);
    };

    // Folders where two outputs differ in case alone are asked how they
    // compare names.
    QHash<QString, bool> ignoresCase;
    {
        QHash<QString, QString> folded;
        for (const Conversion &c : conversions) {
            const QFileInfo info(QFileInfo(c.output).absoluteFilePath());
            const QString key = info.absolutePath() + u'/' + info.fileName().toCaseFolded();
            const auto seen = folded.constFind(key);
            if (seen != folded.constEnd() && *seen != info.fileName() &&
                !ignoresCase.contains(info.absolutePath()))
                ignoresCase.insert(info.absolutePath(),
                                   platform::folderIgnoresCase(info.absolutePath()));
            folded.insert(key, info.fileName());
        }
    }
    // Two inputs on one output name: the later one would replace the earlier
    // one's file. Settled first, in order, so the workers never meet.
    QHash<QString, qsizetype> writer;         // an output, by its key -> who writes it
    QHash<QString, QList<qsizetype>> readers; // an input, by its key -> who reads it
    std::vector<bool> clash(static_cast<size_t>(n), false);
    for (qsizetype i = 0; i < n; ++i) {
        const Conversion &c = conversions[i];
        const QString output = clashKey(QFileInfo(c.output).absoluteFilePath(), ignoresCase);
        if (const auto earlier = writer.constFind(output); earlier != writer.constEnd()) {
            fail(i, sameOutput(*earlier));
            clash[size_t(i)] = true;
            continue;
        }
        writer.insert(output, i);
        readers[clashKey(QFileInfo(c.input).absoluteFilePath(), ignoresCase)] << i;
    }
    // An output that another conversion reads: the order matters, one at a time.
    bool chained = false;
    for (auto it = writer.constBegin(); it != writer.constEnd() && !chained; ++it) {
        const QList<qsizetype> r = readers.value(it.key());
        chained = r.size() > 1 || (r.size() == 1 && r.first() != it.value());
    }

    std::mutex shared; // the files written and the order of the reports
    // The files this run wrote, as they are on disk: another name for one of
    // them (a link) is no new output.
    QHash<QPair<quint64, quint64>, qsizetype> written;
    MemoryBudget memory(sys.memory);
    qsizetype printed = 0;
    const auto finish = [&](qsizetype i) {
        const std::lock_guard lock(shared);
        outcomes[size_t(i)].done = true;
        while (printed < n && outcomes[size_t(printed)].done) {
            errors << outcomes[size_t(printed)].said;
            errors.flush();
            ++printed;
        }
    };
    const auto convert = [&](qsizetype i) {
        const Conversion &c = conversions[i];
        QImage picture;
        try {
            // Loaded first: a file that holds no picture leaves its output alone.
            picture = asChosen(
                flattenOnto(sys.loader.load(c.input), defs::color(defs::PictureBackground)),
                options.choices);
        } catch (const rt::RuntimeError &e) {
            outcomes[size_t(i)].said =
                QStringLiteral("mipoquibbo: %1: %2\n").arg(c.input, unreadableReason(e));
            outcomes[size_t(i)].failed = true;
            return;
        }
        // The same safe replacement as Save: what was there goes to the trash
        // just before the new file takes its name; a document that is no
        // picture, or a file no trash can keep, is replaced only when asked
        // to with --force.
        if (const std::optional<platform::FileStamp> there = platform::stampOf(c.output)) {
            {
                const std::lock_guard lock(shared);
                const auto earlier = written.constFind({there->device, there->inode});
                if (earlier != written.constEnd()) {
                    fail(i, sameOutput(*earlier));
                    return;
                }
            }
            if (!force && wouldDestroyNonPicture(c.output, sys.loader)) {
                fail(i, QStringLiteral(
                            "画像ファイルではないので上書きしません（--force で上書きします）"));
                return;
            }
        }
        const platform::WriteResult result =
            sys.writer.writeBeside(picture, c.output, quality, {&sys.trash, force});
        if (result == platform::WriteResult::NotKept) {
            fail(i, QStringLiteral("ゴミ箱に残せないので上書きしません（--force で上書きします）"));
            return;
        }
        if (result != platform::WriteResult::Written) {
            fail(i, writeMessage(result));
            return;
        }
        if (const std::optional<platform::FileStamp> now = platform::stampOf(c.output)) {
            const std::lock_guard lock(shared);
            written.insert({now->device, now->inode}, i);
        }
    };

    // As many at once as asked for and as memory allows: decoding, encoding
    // and flushing overlap.
    const int workers = chained ? 1 : int(std::clamp<qsizetype>(sys.workers, 1, n));
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i; (i = next.fetch_add(1)) < n;) {
            if (!clash[size_t(i)]) {
                const qint64 bytes =
                    sys.memory > 0 ? conversionBytes(sys.loader.pixelsOf(conversions[i].input)) : 0;
                memory.take(bytes);
                convert(i);
                memory.giveBack(bytes);
            }
            finish(i);
        }
    };
    std::vector<std::thread> others;
    for (int w = 1; w < workers; ++w)
        others.emplace_back(work);
    work();
    for (std::thread &t : others)
        t.join();
    return int(
        std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.failed; }));
}

} // namespace picture_files
