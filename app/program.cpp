#include "app/program.h"

#include "about/about_box.h"
#include "compare_window/compare_window.h"
#include "core/runtime.h"
#include "info_window/information_window.h"
#include "main_window/main_window.h"
#include "picture_files/size_estimate.h"

#include <QLabel>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QWindow>

Program::Program(platform::Services services)
    : services_(services), mainWindow_([this] {
          auto *form = new ::MainWindow(
              document_, services_,
              {
                  .showAbout = [this] { aboutBox().showWindow(); },
                  .showCompareWindow = [this] { compareWindow().showWindow(); },
                  .enableInformationWindow =
                      [this](bool enabled) { informationWindow().setEnabled(enabled); },
                  .unloadInformationWindow = [this] { informationWindow_.unload(); },
                  .tabIntoInformationWindow =
                      [this](bool) {
                          informationWindow().showWindow();
                          informationWindow().qualityBar->setFocus(Qt::TabFocusReason);
                      },
              });
          form->startFile = startFile_;
          return form;
      }),
      informationWindow_([this] {
          auto *form = new ::InformationWindow(document_, *services_.windowShape,
                                               [this] { mainWindow().showWindow(); });
          keepWithMainWindow(*form);
          form->addActions(mainWindow().keyedItems());
          form->tabOut = [this](bool forward) { mainWindow().takeFocusByTab(forward); };
          return form;
      }),
      about_([this] {
          auto *form =
              new ::AboutBox(services_, {
                                            .enable =
                                                [this](bool enabled) {
                                                    mainWindow().setEnabled(enabled);
                                                    informationWindow().setEnabled(enabled);
                                                    if (compare_.loaded())
                                                        compareWindow().setEnabled(enabled);
                                                },
                                            .unloadMe = [this] { about_.unload(); },
                                        });
          keepWithMainWindow(*form);
          return form;
      }),
      compare_([this] {
          auto *form = new ::CompareWindow(document_);
          form->addActions(mainWindow().keyedItems());
          return form;
      })
{
    // Requests the commands make of the information window; a reference loads it.
    QObject::connect(&document_, &PictureDocument::informationWindowRequested, [this] {
        if (!starting_) {
            informationWindow().showWindow();
            return;
        }
        // At the start it comes up beside the main window, which keeps the keyboard.
        ::InformationWindow &form = informationWindow();
        form.setAttribute(Qt::WA_ShowWithoutActivating, true);
        form.show();
        form.setAttribute(Qt::WA_ShowWithoutActivating, false);
    });
    QObject::connect(&document_, &PictureDocument::fileNameShown, [this](const QString &name) {
        informationWindow().fileNameLabel->setText(name);
    });
    sizeEstimate_ = std::make_unique<picture_files::JpegSizeEstimate>(
        document_, *services_.jpegWriter, *services_.jpegDecoder);
}

Program::~Program() = default;

void Program::keepWithMainWindow(QWidget &window)
{
    // A window with no task bar entry of its own goes where the main window
    // goes: above it, minimised and raised with it, so it cannot get lost.
    if (!mainWindow_.loaded() || &window == static_cast<QWidget *>(&mainWindow()))
        return;
    window.winId();
    mainWindow().winId();
    if (window.windowHandle() && mainWindow().windowHandle())
        window.windowHandle()->setTransientParent(mainWindow().windowHandle());
}

MainWindow &Program::mainWindow()
{
    return mainWindow_.get();
}
InformationWindow &Program::informationWindow()
{
    return informationWindow_.get();
}
AboutBox &Program::aboutBox()
{
    return about_.get();
}
CompareWindow &Program::compareWindow()
{
    return compare_.get();
}

void Program::start(const QString &file)
{
    startFile_ = file;
    rt::guard([this] {
        {
            const QScopedValueRollback starting(starting_, true);
            mainWindow();
        }
        // The start-up window is shown once its load is done, so it is the
        // active one, with the information window its load showed beside it.
        if (!rt::ended())
            mainWindow().showWindow();
        if (!startFile_.isEmpty() && !rt::ended())
            mainWindow().openGivenFile(startFile_);
    });
}
