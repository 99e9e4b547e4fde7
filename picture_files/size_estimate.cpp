#include "picture_files/size_estimate.h"

#include "core/services.h"
#include "document/picture_document.h"
#include "platform/picture_io/colour_profiles.h"

#include <QColorSpace>
#include <QCoreApplication>

#include <mutex>

namespace picture_files
{

// What a run and this object share: the run may outlive the object.
struct JpegSizeEstimate::Shared {
    JpegSizeEstimate *owner = nullptr; // touched on the main thread only
    // Set when the running run's answer is no longer wanted; it then ends early.
    std::atomic_bool abandoned{false};
};

JpegSizeEstimate::JpegSizeEstimate(PictureDocument &doc, platform::JpegWriter &writer,
                                   platform::JpegDecoder &decoder)
    : doc_(doc), writer_(writer), decoder_(decoder), shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
    pool_.setMaxThreadCount(1);
    connect(&doc_, &PictureDocument::pictureChanged, this, &JpegSizeEstimate::restart);
    connect(&doc_, &PictureDocument::jpegQualityChanged, this, &JpegSizeEstimate::restart);
    connect(&doc_, &PictureDocument::jpegPictureWantedChanged, this, [this](bool wanted) {
        if (wanted && !running_ && doc_.jpegPicture().isNull() && !doc_.jpegFile().isEmpty())
            decode();
    });
    restart();
}

JpegSizeEstimate::~JpegSizeEstimate()
{
    shared_->owner = nullptr;
    shared_->abandoned = true;
    // The writer a run uses lives no longer than this object's owner.
    pool_.waitForDone();
}

namespace
{
// Held while the worker posts an answer and taken before the main thread
// reads it. Qt's event queue orders the two through locks of its own, which
// the thread sanitizer does not see; this one it does.
std::mutex &handOverLock()
{
    static std::mutex lock;
    return lock;
}
} // namespace

// Runs work on the worker; what it answers runs on the main thread, unless
// this object has gone meanwhile.
template <class Work> void JpegSizeEstimate::onWorker(Work work)
{
    running_ = true;
    stale_ = false;
    shared_->abandoned = false;
    pool_.start([work = std::move(work), shared = shared_] {
        auto answer = work(shared->abandoned);
        const std::lock_guard posting(handOverLock());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared, answer = std::move(answer)] {
                {
                    const std::lock_guard posted(handOverLock());
                }
                if (shared->owner)
                    answer(*shared->owner);
            },
            Qt::QueuedConnection);
    });
}

void JpegSizeEstimate::restart()
{
    if (doc_.picture().isNull()) {
        // A run still going would answer for a picture that is gone.
        stale_ = running_;
        shared_->abandoned = running_;
        doc_.setJpegFile({}, doc_.JpegQuality());
        return;
    }
    doc_.setJpegSize(PictureDocument::JpegSizeComing);
    // The decoded JPEG is stale now; its views keep a screenful of it, so that
    // the next encode and decode never run beside a whole picture's worth.
    doc_.releaseJpegPicture();
    // One run at a time: a change during a run makes it stale, and the next
    // run starts when it ends.
    if (running_) {
        stale_ = true;
        shared_->abandoned = true;
        return;
    }
    const QImage picture = doc_.picture(); // shared, not copied
    const int32_t quality = doc_.JpegQuality();
    platform::JpegWriter *writer = &writer_;
    onWorker([picture, quality, writer](const std::atomic_bool &abandoned) {
        const QByteArray file = writer->encoded(picture, quality, &abandoned);
        return [file, quality](JpegSizeEstimate &estimate) { estimate.encoded(file, quality); };
    });
}

void JpegSizeEstimate::encoded(const QByteArray &file, int32_t quality)
{
    running_ = false;
    if (stale_) {
        restart();
        return;
    }
    doc_.setJpegFile(file, quality);
    if (doc_.jpegPictureWanted() && !file.isEmpty())
        decode();
}

void JpegSizeEstimate::decode()
{
    const QByteArray file = doc_.jpegFile();
    const int32_t quality = doc_.jpegFileQuality();
    // Shown as the original is: through the picture's own colour profile.
    const QColorSpace profile = doc_.picture().colorSpace();
    platform::JpegDecoder *decoder = &decoder_;
    onWorker([file, quality, profile, decoder](const std::atomic_bool &abandoned) {
        QImage picture = decoder->decode(file, &abandoned);
        if (!picture.isNull() && profile.isValid() && profile != QColorSpace::SRgb) {
            picture = picture.convertToFormat(QImage::Format_RGB32);
            picture.setColorSpace(profile);
            picture = platform::colour::toSrgb(picture);
        }
        return
            [picture, quality](JpegSizeEstimate &estimate) { estimate.decoded(picture, quality); };
    });
}

void JpegSizeEstimate::decoded(const QImage &picture, int32_t quality)
{
    running_ = false;
    if (stale_) {
        restart();
        return;
    }
    if (doc_.jpegPictureWanted())
        doc_.setJpegPicture(picture, quality);
}

} // namespace picture_files
