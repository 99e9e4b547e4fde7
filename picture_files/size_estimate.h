#pragma once
// The size the JPEG will have: the current picture encoded at the current
// quality by the writer Save uses, into memory, on a worker thread. Started
// when the picture or the quality changes; a run that the next change made
// stale is abandoned, and the window never waits for one.

#include <QObject>
#include <QThreadPool>

#include <memory>

class PictureDocument;

namespace platform
{
class JpegWriter;
}

namespace picture_files
{
class JpegSizeEstimate : public QObject
{
    Q_OBJECT
public:
    JpegSizeEstimate(PictureDocument &doc, platform::JpegWriter &writer);
    ~JpegSizeEstimate() override;

private:
    void restart();
    void finished(qint64 bytes);

    struct Shared;
    PictureDocument &doc_;
    platform::JpegWriter &writer_;
    std::shared_ptr<Shared> shared_;
    QThreadPool pool_; // its one worker

    bool running_ = false, stale_ = false;
};
} // namespace picture_files
