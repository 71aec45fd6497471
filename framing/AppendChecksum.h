#pragma once

// Completes an outgoing sentence in place: "$body" becomes "$body*HH\r\n". The buffer needs room for
// six bytes beyond the text. An empty text stays empty.
void AppendChecksum(char* pszSentence);
