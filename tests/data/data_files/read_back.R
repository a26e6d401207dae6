# The example project's data files and a file of awkward numbers, read as the
# command file reads them and compared with the example's CSV files. Prints
# the checks that fail, then "all read back".
rd <- function(path) read.table(file = path, header = TRUE, sep = '\t', comment.char = '')
ddf.dat.7 <- rd('{DDF}')
region.dat.7 <- rd('{REGION}')
sample.dat.7 <- rd('{SAMPLE}')
obs.dat.7 <- rd('{OBS}')
numbers <- rd('{NUMBERS}')
obs <- read.csv('{EXAMPLES}/observations.csv')
tr <- read.csv('{EXAMPLES}/transects.csv')
chk <- function(name, ok) if (!isTRUE(ok)) cat(name, "FAILED\n")
same <- function(df, ...) identical(as.list(df), list(...))
reg <- tr$ParentID[match(obs$ParentID, tr$ID)]
o <- order(reg, obs$ParentID, obs$object, obs$observer)
e <- obs[o, ]
t <- match(e$ParentID, tr$ID)
chk("ddf.names", identical(names(ddf.dat.7), c("distance", "object", "observer", "detected",
    "size", "sex", "Label", "Line.length", "Stratum.Label", "Area", "Global.Label",
    "Global.Area")))
chk("ddf.rows", nrow(ddf.dat.7) == nrow(obs))
for (v in c("distance", "object", "observer", "detected", "size", "sex"))
  chk(paste0("ddf.", v), identical(ddf.dat.7[[v]], e[[v]]))
chk("ddf.sample", identical(ddf.dat.7$Label, tr$Label[t]) &&
    identical(ddf.dat.7$Line.length, tr$Line.length[t]))
chk("ddf.region", identical(ddf.dat.7$Stratum.Label, c("R1", "R2")[reg[o]]) &&
    identical(ddf.dat.7$Area, c(65.9, 102.2)[reg[o]]))
chk("ddf.global", all(ddf.dat.7$Global.Label == "Study area") &&
    all(ddf.dat.7$Global.Area == 168.1))
chk("region", same(region.dat.7, Region.Label = c("1. R1", "2. R2"), Area = c(65.9, 102.2)))
ts <- tr[order(tr$ParentID, tr$ID), ]
chk("sample", same(sample.dat.7, Sample.Label = paste0(ts$ID, ". ", ts$Label),
    Region.Label = paste0(ts$ParentID, ". R", ts$ParentID), Effort = ts$Line.length))
ot <- match(obs$ParentID[match(obs.dat.7$object, obs$object)], tr$ID)
chk("obs", nrow(obs.dat.7) == length(unique(obs$object)) &&
    setequal(obs.dat.7$object, obs$object) &&
    identical(obs.dat.7$Sample.Label, paste0(tr$ID[ot], ". ", tr$Label[ot])) &&
    identical(obs.dat.7$Region.Label, paste0(tr$ParentID[ot], ". R", tr$ParentID[ot])))
chk("numbers", identical(sprintf('%a', numbers$distance), c({HEX})))
cat("all read back\n")
