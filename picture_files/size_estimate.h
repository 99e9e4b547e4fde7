#pragma once
// The JPEG Save would write: the current picture encoded at the current
// quality by the writer Save uses, into memory, on a worker thread; then,
// while a view asks for it, that file decoded to show how it looks. Started
// when the picture or the quality changes; a run that the next change made
// stale is abandoned, and the window never waits for one.

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <memory>

class PictureDocument;

namespace platform
{
class JpegWriter;
class JpegDecoder;
} // namespace platform

namespace picture_files
{
class JpegSizeEstimate : public QObject
{
    Q_OBJECT
public:
    JpegSizeEstimate(PictureDocument &doc, platform::JpegWriter &writer,
                     platform::JpegDecoder &decoder);
    ~JpegSizeEstimate() override;

private:
    void restart();
    void encoded(const QByteArray &file, int32_t quality);
    void decode();
    void decoded(const QImage &picture, int32_t quality);
    template <class Work> void onWorker(Work work);

    struct Shared;
    PictureDocument &doc_;
    platform::JpegWriter &writer_;
    platform::JpegDecoder &decoder_;
    std::shared_ptr<Shared> shared_;
    QThreadPool pool_; // its one worker: an encode and a decode never run at once

    bool running_ = false, stale_ = false;
};
} // namespace picture_files
