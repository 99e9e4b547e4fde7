#include "platform/doubles.h"

#include "platform/runtime.h"

namespace platform
{

int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    if (log)
        log->append(QStringLiteral("MsgBox ") + prompt);
    if (onShow)
        onShow(calls.last());
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

int32_t FakeRegistry::RegOpenKeyExA(int32_t hKey, const QByteArray &lpSubKey, int32_t,
                                    int32_t samDesired, int32_t &phkResult)
{
    attempts << lpSubKey;
    if (hKey != HKEY_LOCAL_MACHINE || !keys.contains(lpSubKey))
        return ERROR_FILE_NOT_FOUND;
    if (samDesired == KEY_ALL_ACCESS && denied.contains(lpSubKey))
        return ERROR_ACCESS_DENIED;
    phkResult = next_++;
    handles_[phkResult] = lpSubKey;
    open << phkResult;
    return ERROR_SUCCESS;
}

int32_t FakeRegistry::RegQueryValueExA(int32_t hKey, const QByteArray &lpValueName, int32_t,
                                       int32_t &lpType, QByteArray &data, int32_t &cbData)
{
    if (!handles_.contains(hKey))
        return ERROR_INVALID_HANDLE;
    const auto values = keys.value(handles_[hKey]);
    if (!values.contains(lpValueName))
        return ERROR_FILE_NOT_FOUND;
    const Value v = values[lpValueName];
    if (v.bytes.size() > cbData)
        return ERROR_MORE_DATA;
    lpType = v.type;
    data.replace(0, v.bytes.size(), v.bytes);
    cbData = int32_t(v.bytes.size());
    return ERROR_SUCCESS;
}

int32_t FakeRegistry::RegCloseKey(int32_t hKey)
{
    closed << hKey;
    open.removeAll(hKey);
    return handles_.remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void FakeProcessStarter::Shell(const QString &pathName)
{
    if (!startable.contains(pathName))
        throw rt::RuntimeError(rt::ErrFileNotFound);
    started << pathName;
}

QString FakeFileSystem::Dir(const QString &pathName)
{
    asked << pathName;
    return files.contains(pathName) ? pathName.section(u'\\', -1) : QString();
}

void FakeKeyEvents::keybd_event(uint8_t bVk, uint8_t bScan, int32_t dwFlags, int32_t dwExtraInfo)
{
    log(QStringLiteral("key %1 %2 %3 %4").arg(bVk).arg(bScan).arg(dwFlags).arg(dwExtraInfo));
}

QImage FakeClipboard::GetData()
{
    log(QStringLiteral("GetData"));
    return picture;
}

void FakeBrowser::setVisible(bool visible)
{
    log_(QStringLiteral("Visible %1").arg(visible));
}

void FakeBrowser::Navigate(const QString &target)
{
    log_(QStringLiteral("Navigate ") + target);
}

std::unique_ptr<Browser> FakeBrowserFactory::CreateObject()
{
    log(QStringLiteral("CreateObject"));
    if (!available)
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    ++created;
    return std::make_unique<FakeBrowser>(log, opensWindow);
}

QString FakeInputPrompt::InputBox(const QString &prompt, const QString &title,
                                  const QString &defaultText)
{
    calls.append({prompt, title, defaultText});
    log(QStringLiteral("InputBox"));
    return answer.value_or(defaultText);
}

FakeServices::FakeServices()
{
    messageBox.log = &log;
    for (Log *l : {&keyEvents.log, &clipboard.log, &eventLoop.log, &browserFactory.log,
                   &inputPrompt.log, &windowActivator.log})
        l->lines = &log;
}

} // namespace platform
