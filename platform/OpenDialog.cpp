#include "platform/OpenDialog.h"

#include "platform/Dialogs.h"

bool TOpenDialog::Execute()
{
    std::optional<std::string> chosen;
    chosen.swap(chosenInAdvance);
    if (!chosen)
        chosen = Dialogs::AskOpenFileName({Title, Filter, FileName});
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}
