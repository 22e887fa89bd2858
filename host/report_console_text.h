// The console's own text behind a text report.
//
// The report walk writes "~" for every blank of a text it reports, in place,
// so the decoded tree no longer holds the text as the console sent it. Kept
// before the walk, the texts it will meet give each text report its console
// text back: blanks as blanks, before the report's "~".
#pragma once

#include "ember/tree/node.h"

#include <cstddef>
#include <string>
#include <vector>

class CReportConsoleTexts
{
public:
    // Keeps the texts the report walk of this message's root will meet, in
    // its order (forgetting those of the message before).
    void Collect(CEmber_Node& root);

    // The console text of a text report line ("p1,...,p5,text \n"): the next
    // kept text that the walk turned into the report's text (a text whose
    // report did not fit the line was never sent and is passed over). False
    // for an integer report or when no kept text matches.
    bool Find(const char* line, std::string& text);

private:
    void CollectIn(CEmber_Node& container);
    void Search(CEmber_Node& node);

    std::vector<std::string> m_texts;
    size_t m_next = 0;
};
