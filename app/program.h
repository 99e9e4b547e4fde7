#pragma once
// The one place that creates the picture document and the windows, hands each
// the services it needs and wires them together. Each window exists once,
// created and loaded on its first reference.

#include "core/services.h"
#include "document/picture_document.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace picture_files
{
class JpegSizeEstimate;
}
class MainWindow;
class QWidget;
class InformationWindow;
class AboutBox;
class CompareWindow;

// One window that exists once, created and loaded when first referred to, and
// created afresh when referred to after it was unloaded.
template <class Form> class FormSlot
{
public:
    explicit FormSlot(std::function<Form *()> create) : create_(std::move(create)) {}
    ~FormSlot() { delete form_; }
    FormSlot(const FormSlot &) = delete;
    FormSlot &operator=(const FormSlot &) = delete;

    Form &get()
    {
        if (!form_) {
            // Stored before its load runs, so that a reference from inside the
            // load (or from a window that load shows) finds this instance.
            form_ = create_();
            if constexpr (requires(Form & w) { w.loadWindow(); })
                form_->loadWindow();
        }
        return *form_;
    }
    bool loaded() const { return form_ != nullptr; }
    // Runs the window's unload handler, if it has one, and destroys the
    // window; its deletion waits until the events under way are done.
    void unload()
    {
        if (!form_)
            return;
        Form *f = form_;
        form_ = nullptr;
        if constexpr (requires(Form & w, int16_t & cancel) { w.unloadWindow(cancel); }) {
            int16_t Cancel = 0;
            f->unloadWindow(Cancel);
        }
        f->hide();
        f->deleteLater();
    }

private:
    std::function<Form *()> create_;
    Form *form_ = nullptr;
};

class Program
{
public:
    explicit Program(platform::Services services);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    const platform::Services &services() const { return services_; }
    PictureDocument &document() { return document_; }

    // The windows by name: created and loaded on first reference.
    ::MainWindow &mainWindow();
    ::InformationWindow &informationWindow();
    ::AboutBox &aboutBox();
    ::CompareWindow &compareWindow();
    FormSlot<::MainWindow> &mainWindowSlot() { return mainWindow_; }
    FormSlot<::InformationWindow> &informationWindowSlot() { return informationWindow_; }
    FormSlot<::AboutBox> &aboutSlot() { return about_; }
    FormSlot<::CompareWindow> &compareSlot() { return compare_; }

    // Starts the program: the main window is the start-up window; a file given
    // is opened once it is up (or handed to the copy that runs).
    void start(const QString &file = {});

private:
    void keepWithMainWindow(QWidget &window);
    platform::Services services_;
    PictureDocument document_;
    QString startFile_;
    bool starting_ = false; // the main window's load under way
    std::unique_ptr<picture_files::JpegSizeEstimate> sizeEstimate_;
    FormSlot<::MainWindow> mainWindow_;
    FormSlot<::InformationWindow> informationWindow_;
    FormSlot<::AboutBox> about_;
    FormSlot<::CompareWindow> compare_;
};
