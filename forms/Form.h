#pragma once

#include <QPointer>
#include <QWidget>

class QMenuBar;

namespace tova {

// The mouse pointer shapes a window can show.
enum MousePointerShape : int { vbDefault = 0, vbHourglass = 11 };

// Why a window is being unloaded. vbAppWindows: the desktop session is ending, and a window may
// ask the user and refuse; vbAppTaskManager: the process is told to end, and nothing may ask.
enum UnloadMode : short {
    vbFormControlMenu = 0,
    vbFormCode = 1,
    vbAppWindows = 2,
    vbAppTaskManager = 3
};

// Base of the three windows: load, show and unload with a closing check that can refuse.
// Each window class has one default instance, reached through DefaultForm<T>.
class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(QWidget* parent = nullptr);
    ~Form() override;

    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int shape);

    // Runs the closing check and the unload handler; true when the window went away.
    bool unloadForm(UnloadMode mode = vbFormCode);
    // Runs the closing check alone; true when the window would go.
    bool queryUnload(UnloadMode mode);

    // True once the window has gone through its unload; it is then deleted later.
    bool isUnloaded() const { return m_released; }

    // Number of windows currently loaded in the process.
    static int loadedCount();

    // True for a window whose closing check keeps its work without asking: when every window
    // goes, it goes first, before another window's question can hold up the end.
    virtual bool storesWithoutAsking() const { return false; }

protected:
    friend class FormLoader;
    virtual void Form_Load() {}
    virtual void Form_QueryUnload(short& Cancel, short UnloadMode);
    virtual void Form_Unload(short& Cancel);

    // Places the window's outer top-left corner at the screen's top-left corner and gives it
    // its designed client size.
    void placeAtScreenOrigin(const QSize& clientSize);
    // The same for a window with a menu bar: the client area keeps its designed size below it.
    void placeWithMenu(QMenuBar* menuBar, QWidget* client, const QSize& clientSize);

    void closeEvent(QCloseEvent* event) override;

private:
    bool runClosingHandlers(UnloadMode mode);
    void release();

    int m_mousePointer = vbDefault;
    bool m_released = false;
};

// Knows the loaded windows; tells when the last of them has been unloaded.
class FormRegistry : public QObject {
    Q_OBJECT
public:
    static FormRegistry& instance();

    // Unloads every loaded window, those that store without asking first, then the newest
    // first; false when a closing check refused.
    bool unloadAll(UnloadMode mode);
    // Runs the closing checks alone, in the same order, and unloads nothing; false as soon as
    // one refuses, and the windows after it are not asked.
    bool queryUnloadAll(UnloadMode mode);

signals:
    void allUnloaded();

private:
    friend class Form;
    QList<Form*> unloadOrder() const;
    QList<Form*> m_loaded;
};

// Creates and loads windows; keeps the default instance of each class.
class FormLoader {
public:
    static void load(Form* form) { form->Form_Load(); }
};

template <class T> class DefaultForm {
public:
    // The loaded instance, or nullptr.
    static T* loaded() {
        T* form = instance().data();
        return form && !form->isUnloaded() ? form : nullptr;
    }

    // Creates and loads the window if it is not loaded; a loaded window is left as it is.
    static T& Load() {
        if (!loaded()) {
            instance() = new T;
            FormLoader::load(instance().data());
        }
        return *instance();
    }

    // Loads if needed, then shows modeless and brings the window to the front.
    static T& Show() {
        T& form = Load();
        form.show();
        form.raise();
        form.activateWindow();
        return form;
    }

    // Does nothing when not loaded. False when the closing check refused.
    static bool Unload() {
        T* form = loaded();
        return form == nullptr || form->unloadForm(vbFormCode);
    }

private:
    static QPointer<T>& instance() {
        static QPointer<T> pointer;
        return pointer;
    }
};

} // namespace tova
