#include "picture_files/convert_files.h"

#include "picture_files/save_jpeg.h"
#include "platform/runtime.h"
#include "platform/services.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace picture_files
{

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

    // Two inputs on one output name: the later one would replace the earlier
    // one's file. Settled first, in order, so the workers never meet.
    QHash<QString, qsizetype> writer;         // an output, by absolute path -> who writes it
    QHash<QString, QList<qsizetype>> readers; // an input, by absolute path -> who reads it
    std::vector<bool> clash(static_cast<size_t>(n), false);
    for (qsizetype i = 0; i < n; ++i) {
        const Conversion &c = conversions[i];
        const QString output = QFileInfo(c.output).absoluteFilePath();
        if (const auto earlier = writer.constFind(output); earlier != writer.constEnd()) {
            fail(i, QStringLiteral("%1 と同じ出力名です").arg(conversions[*earlier].input));
            clash[size_t(i)] = true;
            continue;
        }
        writer.insert(output, i);
        readers[QFileInfo(c.input).absoluteFilePath()] << i;
    }
    // An output that another conversion reads: the order matters, one at a time.
    bool chained = false;
    for (auto it = writer.constBegin(); it != writer.constEnd() && !chained; ++it) {
        const QList<qsizetype> r = readers.value(it.key());
        chained = r.size() > 1 || (r.size() == 1 && r.first() != it.value());
    }

    std::mutex shared; // the trash and the order of the reports
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
                flattenOnto(sys.loader.LoadPicture(c.input), defs::color(defs::PictureBackground)),
                options.choices);
        } catch (const rt::RuntimeError &e) {
            outcomes[size_t(i)].said =
                QStringLiteral("mipoquibbo: %1: %2\n").arg(c.input, unreadableReason(e));
            outcomes[size_t(i)].failed = true;
            return;
        }
        // The same safe replacement as Save: what was there goes to the trash
        // first; a document that is no picture, or a file no trash can keep,
        // is replaced only when asked to with --force.
        bool trashed = false;
        if (QFileInfo(c.output).isFile()) {
            if (!force && wouldDestroyNonPicture(c.output, sys.loader)) {
                fail(i, QStringLiteral(
                            "画像ファイルではないので上書きしません（--force で上書きします）"));
                return;
            }
            {
                const std::lock_guard lock(shared);
                trashed = sys.trash.keepCopy(c.output);
            }
            if (!trashed && !force) {
                fail(i, QStringLiteral(
                            "ゴミ箱に残せないので上書きしません（--force で上書きします）"));
                return;
            }
        }
        const platform::WriteResult result = sys.writer.writeBeside(picture, c.output, quality);
        if (result != platform::WriteResult::Written) {
            if (trashed) {
                const std::lock_guard lock(shared);
                sys.trash.takeBack(c.output);
            }
            fail(i, writeMessage(result));
        }
    };

    // As many at once as asked for: decoding, encoding and flushing overlap.
    const int workers = chained ? 1 : int(std::clamp<qsizetype>(sys.workers, 1, n));
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i; (i = next.fetch_add(1)) < n;) {
            if (!clash[size_t(i)])
                convert(i);
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
