#include "platform/OpenDialog.h"

#include "platform/Dialogs.h"

bool TOpenDialog::Execute()
{
    const auto chosen = Dialogs::AskOpenFileName({Title, Filter, FileName});
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}
