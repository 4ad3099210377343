#pragma once
// How vindral-cli writes its results on stdout.
enum class TOutputFormat {
    Text, // the status texts and one result line per proxy, for people and grep
    Jsonl // one JSON object per finished proxy and nothing else, for programs
};
