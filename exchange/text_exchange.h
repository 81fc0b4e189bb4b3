// Text exchange: importing tab-separated text files into the directory and
// exporting the directory as tab-separated UTF-16LE text.
#pragma once
