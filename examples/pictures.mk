# Converts every .bmp, .png, .gif, .jpg and .jpeg picture in the current
# folder into a screen file beside it, as many at a time as make's -j allows:
#
#   cd my-pictures && make -j"$(nproc)" -f /path/to/examples/pictures.mk
#
# The extensions count in any case: cameras and phones write IMG_0001.JPG.
# Only pictures that changed since their screen file are converted again.
# File names must not contain spaces or colons (make cannot handle them).
ENCSCREEN ?= encscreen
CONVERT ?= convert
# Options for every conversion (OPTIONS=--perceptual, say). make -j runs
# one conversion a core, so each runs on one thread (--threads 1): threads
# of their own would only take turns with the other conversions.
OPTIONS ?=

# make's wildcards and pattern rules tell .JPG from .jpg, so every case of an
# extension is spelled out as a glob here, and each screen file gets a rule
# of its own below instead of a pattern rule for each extension.
DIRECT := $(wildcard *.[bB][mM][pP] *.[pP][nN][gG])
VIA_BMP := $(wildcard *.[gG][iI][fF] *.[jJ][pP][gG] *.[jJ][pP][eE][gG])
PICTURES := $(DIRECT) $(VIA_BMP)
STEMS := $(basename $(PICTURES))
# a.bmp and a.PNG would both make a.scn, and make would pick one of them
# without a word: name the clash instead of guessing.
CLASHES := $(sort $(foreach s,$(STEMS),$(if $(word 2,$(filter $(s),$(STEMS))),$(s))))
ifneq ($(CLASHES),)
$(error these pictures would make the same screen file: $(strip $(foreach p,$(PICTURES),$(if $(filter $(CLASHES),$(basename $(p))),$(p)))); rename one of each)
endif
SCREENS := $(addsuffix .scn,$(STEMS))

all: $(SCREENS)

# A recipe that fails must not leave a screen file that make takes for done
# next time. encscreen replaces a screen file only once the new one is
# complete, but in a folder that allows no new file it has to write in place,
# and a failure there can leave a fragment.
.DELETE_ON_ERROR:

# Each screen file is made from its own picture, whatever the case of its
# extension; $< in the recipes below is that picture.
$(foreach p,$(PICTURES),$(eval $(basename $(p)).scn: $(p)))

# encscreen reads BMP and PNG itself, exactly: 16-bit samples and partial
# alpha as it defines them, not as another converter would round them.
# encscreen exits with 1 on success and 0 on failure; make wants 0 for success.
ifneq ($(DIRECT),)
$(addsuffix .scn,$(basename $(DIRECT))):
	$(ENCSCREEN) --threads 1 $(OPTIONS) $< $@; test $$? -eq 1
endif

# Other formats go through ImageMagick, the first frame only (an animated GIF
# has many). A picture of few colours would come out as a palette BMP, which
# encscreen refuses: -type truecolor keeps 24 bits.
ifneq ($(VIA_BMP),)
$(addsuffix .scn,$(basename $(VIA_BMP))):
	$(CONVERT) '$<[0]' -type truecolor bmp:- | $(ENCSCREEN) --threads 1 $(OPTIONS) - $@; test $$? -eq 1
endif

clean:
	rm -f $(SCREENS)

.PHONY: all clean
