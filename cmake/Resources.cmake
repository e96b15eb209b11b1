# Embedding of data files into the program (filled in with the catalogue).
