#include "MessageMap.h"

const CMessageMap::Handler* CMessageMap::Find(UINT nMsg, WPARAM wParam, LPARAM lParam) const
{
    for (const CMessageMap* map = this; map; map = map->m_pBase) {
        for (const Entry& entry : map->m_entries) {
            if (entry.nMessage != nMsg)
                continue;
            if (nMsg == WM_COMMAND) {
                // Button clicks and menu items arrive with notification code 0.
                if (LOWORD(wParam) == entry.nID && HIWORD(wParam) == 0)
                    return &entry.handler;
            } else if (nMsg == WM_NOTIFY) {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (header->idFrom == entry.nID && header->code == entry.nCode)
                    return &entry.handler;
            } else {
                return &entry.handler;
            }
        }
    }
    return nullptr;
}
