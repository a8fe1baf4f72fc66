#include "runtime/Controls.h"

#include "runtime/BackgroundTask.h"
#include "runtime/DragItem.h"
#include "runtime/Exceptions.h"
#include "runtime/FileType.h"
#include "runtime/Graphics.h"
#include "runtime/Recorder.h"
#include "runtime/Runtime.h"
#include "runtime/Window.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

namespace {

// What every stub does: checks the event's arguments, then calls.
template <std::size_t Count>
void callWith(Delegate const& delegate, std::span<Value const> arguments, char const* event)
{
    if (arguments.size() != Count)
        RaiseRuntimeException(String("the ") + event + " event takes " + std::to_string(Count) + " arguments");
    delegate.Invoke(arguments);
}

QFont fontNamed(String const& name, bool bold, bool italic, bool underline)
{
    // "System" is the desktop's font; "Smallsystem" a smaller cut of it.
    QFont font = QApplication::font();
    if (name == "Smallsystem")
        font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.85));
    else if (name != "System" && !name.empty())
        font.setFamily(QString::fromStdString(name));
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

class CanvasWidget : public QWidget {
public:
    explicit CanvasWidget(Canvas& canvas)
        : m_canvas(canvas)
    {
        setAcceptDrops(true);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        background_task::Suspend const noEventsWhilePainting;
        QPainter painter(this);
        Ref<Graphics> graphics = Graphics::forPainter(painter, width(), height());
        m_canvas.raiseEvent("Paint", { Value(Ref<Object>(&m_canvas)), Value(Ref<Object>(graphics)) });
        graphics->detach();
    }

    void dragEnterEvent(QDragEnterEvent* event) override { answerDrag(*event); }
    void dragMoveEvent(QDragMoveEvent* event) override { answerDrag(*event); }

    void dropEvent(QDropEvent* event) override
    {
        if (!accepts(*event->mimeData())) {
            event->ignore();
            return;
        }
        event->acceptProposedAction();
        Ref<Canvas> const canvas(&m_canvas);
        RuntimeRunGuarded([&] {
            Ref<DragItem> const item = DragItem::fromMimeData(*event->mimeData(), m_canvas.fileDropFilter());
            canvas->raiseEvent("DropObject", { Value(Ref<Object>(canvas)), Value(Ref<Object>(item)), Value(std::int32_t { 0 }) }, false);
        });
    }

private:
    void answerDrag(QDragMoveEvent& event) const
    {
        if (accepts(*event.mimeData()))
            event.acceptProposedAction();
        else
            event.ignore();
    }

    // A drop counts when the canvas takes pictures and it carries one, or
    // when it takes files and its first file has an extension of a type the
    // filter names. Nothing is taken while a computation lets events run:
    // the drop would change its inputs under it.
    bool accepts(QMimeData const& dropped) const
    {
        if (background_task::yielding())
            return false;
        if (!m_canvas.hasEventHandler(Canvas::Lookup_().eventIndex("DropObject")))
            return false;
        if (m_canvas.acceptsPictureDrops() && dropped.hasImage())
            return true;
        if (m_canvas.fileDropFilter().empty() || dropped.urls().isEmpty() || !dropped.urls().first().isLocalFile())
            return false;
        return RuntimeFilterAcceptsFileName(m_canvas.fileDropFilter(), dropped.urls().first().toLocalFile().toStdString());
    }

    Canvas& m_canvas;
};

}

void OpenEventStub(Delegate const& delegate, std::span<Value const> arguments) { callWith<1>(delegate, arguments, "Open"); }
void PaintEventStub(Delegate const& delegate, std::span<Value const> arguments) { callWith<2>(delegate, arguments, "Paint"); }
void DropObjectEventStub(Delegate const& delegate, std::span<Value const> arguments) { callWith<3>(delegate, arguments, "DropObject"); }
void ActionEventStub(Delegate const& delegate, std::span<Value const> arguments) { callWith<1>(delegate, arguments, "Action"); }

ClassRecord Control::buildRecord()
{
    return ClassRecordBuilder<Control>("Control").events({ "Open", "Close" }).build();
}

void Control::addEventHandler(int index, EventStub stub, Ref<Delegate> delegate)
{
    if (index < 1 || index > classRecord().eventCount())
        Raise<OutOfBoundsException>("A " + classRecord().name + " has no event " + std::to_string(index));
    m_handlers[index] = Binding { stub, std::move(delegate) };
}

bool Control::raiseEvent(std::string_view event, std::vector<Value> arguments, bool guarded)
{
    auto const binding = m_handlers.find(classRecord().eventIndex(event));
    if (binding == m_handlers.end())
        return false;
    RuntimeRecord("Control event", { controlName(), String(event) });
    Binding const handler = binding->second; // the handler may rebind
    auto const run = [&] { handler.stub(handler.delegate.checked(), arguments); };
    if (guarded)
        RuntimeRunGuarded(run);
    else
        run();
    return true;
}

void RuntimeAddEventHandler(Ref<Control> const& control, int index, EventStub stub, Ref<Delegate> delegate)
{
    RuntimeRecord("RuntimeAddEventHandler", { control->controlName(), std::to_string(index), delegate ? delegate->Signature() : String() });
    control->addEventHandler(index, stub, std::move(delegate));
}

RectControl::RectControl() = default;

RectControl::~RectControl()
{
    delete m_widget;
}

// The settings every control shares; a subclass's record lists only its
// own, and finds these through its superclass.
ClassRecord RectControl::buildRecord()
{
    using C = RectControl;
    return ClassRecordBuilder<C>("RectControl", &Control::Lookup_())
        .events({ "MouseEnter", "MouseExit", "MouseMove", "DropObject", "DragEnter", "DragExit", "DragOver",
            "KeyDown", "KeyUp", "ConstructContextualMenu", "ContextualMenuAction", "MouseWheel" })
        .property("Name", "s", {}, &C::m_name, &C::noEffect)
        .property("Index", "i4", {}, &C::m_index, &C::noEffect)
        .property("Left", "i4", {}, &C::m_left, &C::applyGeometry)
        .property("Top", "i4", {}, &C::m_top, &C::applyGeometry)
        .property("Width", "i4", {}, &C::m_width, &C::applyGeometry)
        .property("Height", "i4", {}, &C::m_height, &C::applyGeometry)
        .property("LockLeft", "b", {}, &C::m_lockLeft, &C::noEffect)
        .property("LockTop", "b", {}, &C::m_lockTop, &C::noEffect)
        .property("LockRight", "b", {}, &C::m_lockRight, &C::noEffect)
        .property("LockBottom", "b", {}, &C::m_lockBottom, &C::noEffect)
        .property("TabPanelIndex", "i4", {}, &C::m_tabPanelIndex, &C::noEffect)
        .property("TabIndex", "i4", {}, &C::m_tabIndex, &C::noEffect)
        .property("TabStop", "b", {}, &C::m_tabStop, &C::applyTabStop)
        .property("Visible", "b", {}, &C::m_visible, &C::applyVisible)
        .property("HelpTag", "s", {}, &C::m_helpTag, &C::applyHelpTag)
        .property("AutoDeactivate", "b", {}, &C::m_autoDeactivate, &C::noEffect)
        .property("Enabled", "b", {}, &C::m_enabled, &C::applyEnabled)
        .property("InitialParent", "s", {}, &C::m_initialParent, &C::noEffect)
        .build();
}

void RectControl::Constructor()
{
    if (!m_widget)
        m_widget = makeWidget();
    applyGeometry();
    applyEnabled();
    applyHelpTag();
    applyTabStop();
}

void RectControl::Enabled(bool enabled)
{
    m_enabled = enabled;
    applyEnabled();
}

void RectControl::Refresh(bool)
{
    if (m_widget)
        m_widget->update();
}

void RectControl::attach(Window&, QWidget* parent)
{
    if (!m_widget)
        RaiseRuntimeException("a control must be constructed before it is added to a window");
    m_widget->setParent(parent);
    QObject::connect(m_widget, &QObject::destroyed, [this] { m_widget = nullptr; });
    applyGeometry();
    applyVisible();
}

void RectControl::followResize(std::int32_t oldWidth, std::int32_t oldHeight, std::int32_t newWidth, std::int32_t newHeight)
{
    std::int32_t const dx = newWidth - oldWidth;
    std::int32_t const dy = newHeight - oldHeight;
    if (m_lockRight) {
        if (m_lockLeft)
            m_width += dx;
        else
            m_left += dx;
    }
    if (m_lockBottom) {
        if (m_lockTop)
            m_height += dy;
        else
            m_top += dy;
    }
    applyGeometry();
}

void RectControl::applyGeometry()
{
    if (m_widget)
        m_widget->setGeometry(m_left, m_top, std::max(m_width, 0), std::max(m_height, 0));
}

void RectControl::applyEnabled()
{
    if (m_widget)
        m_widget->setEnabled(m_enabled);
}

void RectControl::applyVisible()
{
    if (m_widget && m_widget->parentWidget())
        m_widget->setVisible(m_visible);
}

void RectControl::applyHelpTag()
{
    if (m_widget)
        m_widget->setToolTip(QString::fromStdString(m_helpTag));
}

void RectControl::applyTabStop()
{
    if (m_widget && m_widget->focusPolicy() != Qt::NoFocus)
        m_widget->setFocusPolicy(m_tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

ClassRecord Canvas::buildRecord()
{
    return ClassRecordBuilder<Canvas>("Canvas", &RectControl::Lookup_())
        .events({ "Paint", "MouseDown", "MouseDrag", "MouseUp", "DoubleClick", "GotFocus", "LostFocus" })
        .property("UseFocusRing", "b", {}, &Canvas::m_useFocusRing, &Canvas::noEffect)
        .property("AcceptFocus", "b", {}, &Canvas::m_acceptFocus, &Canvas::applyTabStop)
        .property("AcceptTabs", "b", {}, &Canvas::m_acceptTabs, &Canvas::noEffect)
        .property("DoubleBuffer", "b", {}, &Canvas::m_doubleBuffer, &Canvas::noEffect)
        .property("EraseBackground", "b", {}, &Canvas::m_eraseBackground, &Canvas::noEffect)
        .build();
}

QWidget* Canvas::makeWidget()
{
    auto* widget = new CanvasWidget(*this);
    widget->setFocusPolicy(m_acceptFocus ? Qt::StrongFocus : Qt::NoFocus);
    return widget;
}

void Canvas::AcceptPictureDrop()
{
    RuntimeRecord("AcceptPictureDrop", { Name() });
    m_acceptPictures = true;
}

void Canvas::AcceptFileDrop(String const& filter)
{
    RuntimeRecord("AcceptFileDrop", { Name(), filter });
    m_fileFilter += filter;
}

ClassRecord Label::buildRecord()
{
    return ClassRecordBuilder<Label>("Label", &RectControl::Lookup_())
        .property("Text", "s", {}, &Label::m_text, &Label::applyText)
        .property("TextAlign", "i4", {}, &Label::m_textAlign, &Label::applyLook)
        .property("TextColor", "c", {}, &Label::m_textColor, &Label::applyLook)
        .property("Multiline", "b", {}, &Label::m_multiline, &Label::applyLook)
        .property("Selectable", "b", {}, &Label::m_selectable, &Label::applyLook)
        .property("Transparent", "b", {}, &Label::m_transparent, &Label::applyLook)
        .property("TextFont", "s", {}, &Label::m_textFont, &Label::applyLook)
        .property("Bold", "b", {}, &Label::m_bold, &Label::applyLook)
        .property("Italic", "b", {}, &Label::m_italic, &Label::applyLook)
        .property("Underline", "b", {}, &Label::m_underline, &Label::applyLook)
        .property("DataSource", "s", {}, &Label::m_dataSource, &Label::noEffect)
        .property("DataField", "s", {}, &Label::m_dataField, &Label::noEffect)
        .build();
}

QWidget* Label::makeWidget()
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    m_widget = label;
    applyText();
    applyLook();
    return label;
}

void Label::TextUnit(FontUnits unit)
{
    m_textUnit = unit;
    applyLook();
}

void Label::applyText()
{
    if (auto* label = static_cast<QLabel*>(m_widget))
        label->setText(QString::fromStdString(m_text));
}

void Label::applyLook()
{
    auto* label = static_cast<QLabel*>(m_widget);
    if (!label)
        return;
    Qt::Alignment const horizontal = m_textAlign == 1 ? Qt::AlignHCenter : m_textAlign == 2 ? Qt::AlignRight : Qt::AlignLeft;
    label->setAlignment(horizontal | Qt::AlignTop);
    label->setWordWrap(m_multiline);
    label->setTextInteractionFlags(m_selectable ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    label->setAutoFillBackground(!m_transparent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(m_textColor.Red(), m_textColor.Green(), m_textColor.Blue()));
    label->setPalette(palette);
    label->setFont(fontNamed(m_textFont, m_bold, m_italic, m_underline));
}

ClassRecord PushButton::buildRecord()
{
    return ClassRecordBuilder<PushButton>("PushButton", &RectControl::Lookup_())
        .events({ "Action", "GotFocus", "LostFocus" })
        .property("Caption", "s", {}, &PushButton::m_caption, &PushButton::applyCaption)
        .property("Default", "b", {}, &PushButton::m_default, &PushButton::applyDefault)
        .property("Cancel", "b", {}, &PushButton::m_cancel, &PushButton::applyDefault)
        .property("ButtonStyle", "i4", {}, &PushButton::m_buttonStyle, &PushButton::noEffect)
        .property("TextFont", "s", {}, &PushButton::m_textFont, &PushButton::applyLook)
        .property("Bold", "b", {}, &PushButton::m_bold, &PushButton::applyLook)
        .property("Italic", "b", {}, &PushButton::m_italic, &PushButton::applyLook)
        .property("Underline", "b", {}, &PushButton::m_underline, &PushButton::applyLook)
        .build();
}

QWidget* PushButton::makeWidget()
{
    auto* button = new QPushButton;
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, button, [this] { raiseEvent("Action", { Value(Ref<Object>(this)) }); });
    m_widget = button;
    applyCaption();
    applyLook();
    applyDefault();
    return button;
}

void PushButton::TextUnit(FontUnits unit)
{
    m_textUnit = unit;
    applyLook();
}

void PushButton::applyCaption()
{
    if (auto* button = static_cast<QPushButton*>(m_widget))
        button->setText(QString::fromStdString(m_caption));
}

void PushButton::applyLook()
{
    if (m_widget)
        m_widget->setFont(fontNamed(m_textFont, m_bold, m_italic, m_underline));
}

void PushButton::applyDefault()
{
    auto* button = static_cast<QPushButton*>(m_widget);
    if (!button)
        return;
    button->setDefault(m_default);
    button->setShortcut(m_cancel ? QKeySequence(Qt::Key_Escape) : QKeySequence());
}
