#include "platform/doubles.h"

#include "platform/runtime.h"

namespace platform
{

int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    return answers.isEmpty() ? int(vbOK) : answers.takeFirst();
}

void FakeWindowShape::setEllipticRegion(QWidget *, int left, int top, int right, int bottom)
{
    regions.append(QRect(QPoint(left, top), QPoint(right, bottom)));
}

void FakeWindowShape::beginCaptionDrag(QWidget *)
{
    ++drags;
}

void FakeWindowShape::skipTaskbar(QWidget *)
{
    ++taskbarSkips;
}

std::optional<QString> FakeFileChooser::choose(const Request &request)
{
    requests.append(request);
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
}

QImage FakePictureLoader::LoadPicture(const QString &path)
{
    loaded.append(path);
    if (!pictures.contains(path))
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    return pictures.value(path);
}

int16_t FakeJpegEncoder::DCSavetoJPEG(const QImage *hdc, int32_t width, int32_t height,
                                      char *fileName, uint8_t quality, int32_t reserved)
{
    calls.append({hdc, width, height, QByteArray(fileName), quality, reserved});
    return result;
}

} // namespace platform
