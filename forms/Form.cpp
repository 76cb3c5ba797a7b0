#include "Form.h"

#include "MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace tova {

Form::Form(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    useWindowFont();
    FormRegistry::instance().m_loaded.append(this);
}

Form::~Form() {
    release();
}

FormRegistry& FormRegistry::instance() {
    static FormRegistry registry;
    return registry;
}

QList<Form*> FormRegistry::unloadOrder() const {
    QList<Form*> forms(m_loaded.crbegin(), m_loaded.crend());
    std::stable_partition(forms.begin(), forms.end(),
                          [](const Form* form) { return form->storesWithoutAsking(); });
    return forms;
}

bool FormRegistry::unloadAll(UnloadMode mode) {
    bool all = true;
    for (Form* form : unloadOrder())
        all = form->unloadForm(mode) && all;
    return all;
}

bool FormRegistry::queryUnloadAll(UnloadMode mode) {
    const QList<Form*> forms = unloadOrder();
    return std::all_of(forms.begin(), forms.end(),
                       [mode](Form* form) { return form->queryUnload(mode); });
}

int Form::loadedCount() {
    return int(FormRegistry::instance().m_loaded.size());
}

void Form::setMousePointer(int shape) {
    m_mousePointer = shape;
    if (shape == vbHourglass)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void Form::Form_QueryUnload(short&, short) {}

void Form::Form_Unload(short&) {}

void Form::placeAtScreenOrigin(const QSize& clientSize) {
    resize(clientSize);
    const QScreen* screen = QGuiApplication::primaryScreen();
    move(screen ? screen->geometry().topLeft() : QPoint(0, 0));
}

void Form::placeWithMenu(QMenuBar* menuBar, QWidget* client, const QSize& clientSize) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar);
    layout->addWidget(client);
    client->setFixedSize(clientSize);
    placeAtScreenOrigin({clientSize.width(), clientSize.height() + menuBar->sizeHint().height()});
}

bool Form::queryUnload(UnloadMode mode) {
    if (m_released) return true;
    short cancel = 0;
    Form_QueryUnload(cancel, mode);
    return cancel == 0;
}

bool Form::runClosingHandlers(UnloadMode mode) {
    if (!queryUnload(mode)) return false;
    short cancel = 0;
    Form_Unload(cancel);
    return cancel == 0;
}

bool Form::unloadForm(UnloadMode mode) {
    if (m_released) return true;
    if (!runClosingHandlers(mode)) return false;
    hide();
    release();
    // The handler that asked for the unload may still be running on this window.
    deleteLater();
    return true;
}

void Form::closeEvent(QCloseEvent* event) {
    if (m_released || !runClosingHandlers(vbFormControlMenu)) {
        event->setAccepted(m_released);
        return;
    }
    event->accept();
    release();
    deleteLater();
}

void Form::release() {
    if (m_released) return;
    m_released = true;
    FormRegistry& registry = FormRegistry::instance();
    registry.m_loaded.removeOne(this);
    if (registry.m_loaded.isEmpty()) emit registry.allUnloaded();
}

} // namespace tova
