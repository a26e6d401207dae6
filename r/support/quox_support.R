# host support functions
