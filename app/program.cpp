#include "app/program.h"

#include "about/frm_about.h"
#include "compare_window/compare_window.h"
#include "info_window/form2.h"
#include "main_window/form1.h"
#include "picture_files/size_estimate.h"
#include "platform/runtime.h"

#include <QLabel>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QWindow>

Program::Program(platform::Services services)
    : services_(services), form1_([this] {
          auto *form = new ::Form1(
              document_, services_,
              {
                  .showAbout = [this] { frmAbout().Show(); },
                  .showCompareWindow = [this] { compareWindow().Show(); },
                  .enableInformationWindow = [this](bool enabled) { Form2().setEnabled(enabled); },
                  .unloadInformationWindow = [this] { form2_.unload(); },
                  .tabIntoInformationWindow =
                      [this](bool) {
                          Form2().Show();
                          Form2().HScroll1->setFocus(Qt::TabFocusReason);
                      },
              });
          form->StartFile = startFile_;
          return form;
      }),
      form2_([this] {
          auto *form = new ::Form2(document_, *services_.windowShape, [this] { Form1().Show(); });
          keepWithMainWindow(*form);
          form->addActions(Form1().keyedItems());
          form->tabOut = [this](bool forward) { Form1().takeFocusByTab(forward); };
          return form;
      }),
      about_([this] {
          auto *form =
              new ::frmAbout(services_, {
                                            .enable =
                                                [this](bool enabled) {
                                                    Form1().setEnabled(enabled);
                                                    Form2().setEnabled(enabled);
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
          form->addActions(Form1().keyedItems());
          return form;
      })
{
    // Requests the commands make of the information window; a reference loads it.
    QObject::connect(&document_, &PictureDocument::informationWindowRequested, [this] {
        if (!starting_) {
            Form2().Show();
            return;
        }
        // At the start it comes up beside the main window, which keeps the keyboard.
        ::Form2 &form = Form2();
        form.setAttribute(Qt::WA_ShowWithoutActivating, true);
        form.show();
        form.setAttribute(Qt::WA_ShowWithoutActivating, false);
    });
    QObject::connect(&document_, &PictureDocument::fileNameShown,
                     [this](const QString &name) { Form2().Label1->setText(name); });
    sizeEstimate_ = std::make_unique<picture_files::JpegSizeEstimate>(
        document_, *services_.jpegWriter, *services_.jpegDecoder);
}

Program::~Program() = default;

void Program::keepWithMainWindow(QWidget &window)
{
    // A window with no task bar entry of its own goes where the main window
    // goes: above it, minimised and raised with it, so it cannot get lost.
    if (!form1_.loaded() || &window == static_cast<QWidget *>(&Form1()))
        return;
    window.winId();
    Form1().winId();
    if (window.windowHandle() && Form1().windowHandle())
        window.windowHandle()->setTransientParent(Form1().windowHandle());
}

Form1 &Program::Form1()
{
    return form1_.get();
}
Form2 &Program::Form2()
{
    return form2_.get();
}
frmAbout &Program::frmAbout()
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
            Form1();
        }
        // The start-up window is shown once its load is done, so it is the
        // active one, with the information window its load showed beside it.
        if (!rt::ended())
            Form1().Show();
        if (!startFile_.isEmpty() && !rt::ended())
            Form1().openGivenFile(startFile_);
    });
}
