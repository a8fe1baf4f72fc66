#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/FolderItem.h"

// A dialog that asks the user for a file: what it shows is set first, then
// ShowModal runs it.
class FolderItemDialog : public RuntimeClass<FolderItemDialog> {
public:
    static ClassRecord buildRecord();

    void InitialDirectory(Ref<FolderItem> folder) { m_initialDirectory = std::move(folder); }
    void PromptText(String text) { m_promptText = std::move(text); }
    void SuggestedFileName(String name) { m_suggestedFileName = std::move(name); }
    void Title(String title) { m_title = std::move(title); }
    // The offered file types: registered type names, each followed by ";".
    void Filter(String filter) { m_filter = std::move(filter); }
    void ActionButtonCaption(String caption) { m_actionCaption = std::move(caption); }
    void CancelButtonCaption(String caption) { m_cancelCaption = std::move(caption); }

    // Shows the dialog until the user decides; the chosen file, or Nil when
    // the user cancels.
    virtual Ref<FolderItem> ShowModal() = 0;

protected:
    Ref<FolderItem> m_initialDirectory;
    String m_promptText;
    String m_suggestedFileName;
    String m_title;
    String m_filter;
    String m_actionCaption;
    String m_cancelCaption;
};

// The dialog for a file to write: it adds the first offered type's
// extension to a name typed without one, and asks before replacing a file.
class SaveAsDialog : public RuntimeClass<SaveAsDialog, FolderItemDialog> {
public:
    static ClassRecord buildRecord();
    Ref<FolderItem> ShowModal() override;
};
