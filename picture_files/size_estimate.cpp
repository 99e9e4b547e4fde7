#include "picture_files/size_estimate.h"

#include "document/picture_document.h"
#include "platform/services.h"

#include <QCoreApplication>

namespace picture_files
{

// What a run and this object share: the run may outlive the object.
struct JpegSizeEstimate::Shared {
    JpegSizeEstimate *owner = nullptr; // touched on the main thread only
    // Set when the running run's answer is no longer wanted; it then ends early.
    std::atomic_bool abandoned{false};
};

JpegSizeEstimate::JpegSizeEstimate(PictureDocument &doc, platform::JpegWriter &writer)
    : doc_(doc), writer_(writer), shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
    pool_.setMaxThreadCount(1);
    connect(&doc_, &PictureDocument::pictureChanged, this, &JpegSizeEstimate::restart);
    connect(&doc_, &PictureDocument::jpegQualityChanged, this, &JpegSizeEstimate::restart);
    restart();
}

JpegSizeEstimate::~JpegSizeEstimate()
{
    shared_->owner = nullptr;
    shared_->abandoned = true;
    // The writer a run uses lives no longer than this object's owner.
    pool_.waitForDone();
}

void JpegSizeEstimate::restart()
{
    if (doc_.picture().isNull()) {
        // A run still going would answer for a picture that is gone.
        stale_ = running_;
        shared_->abandoned = running_;
        doc_.setJpegSize(PictureDocument::NoJpegSize);
        return;
    }
    doc_.setJpegSize(PictureDocument::JpegSizeComing);
    // One run at a time: a change during a run makes it stale, and the next
    // run starts when it ends.
    if (running_) {
        stale_ = true;
        shared_->abandoned = true;
        return;
    }
    running_ = true;
    stale_ = false;
    shared_->abandoned = false;
    const QImage picture = doc_.picture(); // shared, not copied
    const int32_t quality = doc_.JpegQuality();
    platform::JpegWriter *writer = &writer_;
    std::shared_ptr<Shared> shared = shared_;
    pool_.start([picture, quality, writer, shared] {
        const qint64 bytes = writer->encodedSize(picture, quality, &shared->abandoned);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared, bytes] {
                if (shared->owner)
                    shared->owner->finished(bytes);
            },
            Qt::QueuedConnection);
    });
}

void JpegSizeEstimate::finished(qint64 bytes)
{
    running_ = false;
    if (stale_) {
        restart();
        return;
    }
    doc_.setJpegSize(bytes < 0 ? PictureDocument::NoJpegSize : bytes);
}

} // namespace picture_files
