# The smallest entry point a DLL can have: the fixtures exist for their resources.
	.text
	.globl entry
entry:
	ret
